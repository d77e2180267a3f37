// SPDX-License-Identifier: MIT
// `byteblend demo`: two images made in code, blended in every mode, and a
// page that shows them all.
#ifndef BYTEBLEND_CLI_DEMO_HPP
#define BYTEBLEND_CLI_DEMO_HPP

#include <filesystem>
#include <string>

#include "png_image.hpp"

namespace byteblend::tool {

// A colour wheel on a vertical grey ramp.
Image demo_top(std::uint32_t width, std::uint32_t height);

// A colour gradient under a checker of light and dark squares.
Image demo_bottom(std::uint32_t width, std::uint32_t height);

// Writes top.png, bottom.png, one <mode>.png per mode and index.html into
// `folder`, creating it if needed; returns the path of index.html. Throws
// std::runtime_error naming the file that could not be written.
std::filesystem::path write_demo(const std::filesystem::path &folder);

} // namespace byteblend::tool

#endif
