// SPDX-License-Identifier: MIT
// The tool's image: 8-bit RGB with optional alpha, as every reader returns
// and every writer takes it, and the largest image it handles.
#ifndef BYTEBLEND_CLI_IMAGE_HPP
#define BYTEBLEND_CLI_IMAGE_HPP

#include <cstdint>
#include <string>
#include <vector>

namespace byteblend::tool {

struct Image {
  std::uint32_t width = 0, height = 0;
  std::vector<std::uint8_t> rgb;   // width * height * 3, rows top to bottom
  std::vector<std::uint8_t> alpha; // width * height, or empty: no alpha
};

// The readers refuse larger images from the header, before any image memory
// is allocated: at most kMaxSide pixels each way and kMaxPixels pixels in
// all (3 GiB of RGB).
inline constexpr std::uint32_t kMaxSide = 1U << 20;
inline constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 30;

// Throws std::runtime_error ("image of WxH pixels is larger than the limit
// of ...") unless an image of that size is within the limits.
void check_size_limits(std::uint32_t width, std::uint32_t height);

// "WxH", as messages give an image's size.
std::string size_text(std::uint32_t width, std::uint32_t height);

} // namespace byteblend::tool

#endif
