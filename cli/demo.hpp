// SPDX-License-Identifier: MIT
// `byteblend demo`: two images made in code, blended in every mode; a
// transparent layer on a half-transparent bottom in every layer mode, atop
// and over, and at several opacities; and a page that shows them all.
#ifndef BYTEBLEND_CLI_DEMO_HPP
#define BYTEBLEND_CLI_DEMO_HPP

#include <filesystem>

namespace byteblend::tool {

// Writes top.png, bottom.png, one <mode>.png per mode and index.html into
// `folder`, and layer.png, bottom-alpha.png, atop-<mode>.png and
// over-<mode>.png per layer mode (normal too) and opacity-strip.png (the
// layer at 0%, 25%, 50%, 75% and 100%, side by side) into its folder
// layers/, creating them if needed; returns the path of index.html. Throws
// std::runtime_error naming the file that could not be written.
std::filesystem::path write_demo(const std::filesystem::path &folder);

} // namespace byteblend::tool

#endif
