// PNG files in and out for the byteblend tool, through libpng.
//
// Every PNG colour type and bit depth is read as 8-bit RGB: grey and palette
// images are expanded, 16-bit samples are scaled to 8 bits (round(v * 255 /
// 65535)), interlaced images are de-interlaced, gamma and colour chunks are
// ignored. An alpha channel, or a tRNS chunk, becomes `alpha`.
//
// Limits, checked from the header before any image memory is allocated: at
// most kMaxSide pixels each way and kMaxPixels pixels in all (3 GiB of RGB),
// and no more decoded data than the file's compressed data could hold.
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

// Decodes a whole PNG file held in memory. Throws std::runtime_error whose
// message is the reason ("not a PNG file", "truncated PNG data", ...).
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
