// SPDX-License-Identifier: MIT
// `byteblend demo`: two images made in code, blended in every mode, and a
// page that shows them all.
#ifndef BYTEBLEND_CLI_DEMO_HPP
#define BYTEBLEND_CLI_DEMO_HPP

#include <filesystem>

namespace byteblend::tool {

// Writes top.png, bottom.png, one <mode>.png per mode and index.html into
// `folder`, creating it if needed; returns the path of index.html. Throws
// std::runtime_error naming the file that could not be written.
std::filesystem::path write_demo(const std::filesystem::path &folder);

} // namespace byteblend::tool

#endif
