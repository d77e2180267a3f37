// SPDX-License-Identifier: MIT
// PNG files in and out for the byteblend tool, through libpng.
//
// Every PNG colour type and bit depth is read as 8-bit RGB: grey and palette
// images are expanded, 16-bit samples are scaled to 8 bits (round(v * 255 /
// 65535)), interlaced images are de-interlaced, gamma and colour chunks are
// ignored. An alpha channel, or a tRNS chunk, becomes `alpha`.
//
// Limits, checked from the header before any image memory is allocated: at
// most kMaxSide pixels each way and kMaxPixels pixels in all (3 GiB of RGB),
// and, where the file's size is known, no more decoded data than its
// compressed data could hold. The file is read as it is decoded, never held
// whole, and the rows' memory, reserved at once, is only used as they are
// decoded, so a header that lies costs no more than the rows its data fills.
#ifndef BYTEBLEND_CLI_PNG_IMAGE_HPP
#define BYTEBLEND_CLI_PNG_IMAGE_HPP

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "file_io.hpp"

namespace byteblend::tool {

struct Image {
  std::uint32_t width = 0, height = 0;
  std::vector<std::uint8_t> rgb;   // width * height * 3, rows top to bottom
  std::vector<std::uint8_t> alpha; // width * height, or empty: no alpha
};

inline constexpr std::uint32_t kMaxSide = 1U << 20;
inline constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 30;

// Throws std::runtime_error ("image of WxH pixels is larger than the limit
// of ...") unless an image of that size is within the limits.
void check_size_limits(std::uint32_t width, std::uint32_t height);

// Decodes a PNG file, reading it from `source` as far as it needs. Throws
// std::runtime_error whose message is the reason ("not a PNG file",
// "truncated PNG file", "out of memory reading a WxH image", ...).
Image decode_png(ByteSource &source);

// decode_png of a whole file held in memory.
Image decode_png(std::span<const std::uint8_t> file_bytes);

// Reads and decodes a file. Throws std::runtime_error with the reason, not
// including the path.
Image read_png(const std::filesystem::path &path);

// Encodes 8-bit RGB, or RGBA when `alpha` is not empty. Throws
// std::invalid_argument when the buffers do not match the dimensions.
std::vector<std::uint8_t> encode_png(const Image &image);

// encode_png, then write_file.
void write_png(const std::filesystem::path &path, const Image &image);

} // namespace byteblend::tool

#endif
