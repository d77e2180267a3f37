// SPDX-License-Identifier: MIT
// PNG files in and out for the byteblend tool, through libpng.
//
// Every PNG colour type and bit depth is read as 8-bit RGB: grey and palette
// images are expanded, 16-bit samples are scaled to 8 bits (round(v * 255 /
// 65535)), interlaced images are de-interlaced, gamma and colour chunks are
// ignored. An alpha channel, or a tRNS chunk, becomes `alpha`.
//
// Limits, checked from the header before any image memory is allocated: the
// image's (kMaxSide each way, kMaxPixels in all), and, where the file's size
// is known, no more decoded data than its compressed data could hold. The file
// is read as it is decoded, never held whole, and the rows' memory, reserved at
// once, is only used as they are decoded, so a header that lies costs no more
// than the rows its data fills.
#ifndef BYTEBLEND_CLI_PNG_IMAGE_HPP
#define BYTEBLEND_CLI_PNG_IMAGE_HPP

#include <cstdint>
#include <span>
#include <vector>

#include "byte_source.hpp"
#include "image.hpp"

namespace byteblend::tool {

// Decodes a PNG file, reading it from `source` as far as it needs. Throws
// std::runtime_error whose message is the reason ("not a PNG file",
// "truncated PNG file", "out of memory reading a WxH image", ...).
Image decode_png(ByteSource &source);

// decode_png of a whole file held in memory.
Image decode_png(std::span<const std::uint8_t> file_bytes);

// Encodes 8-bit RGB, or RGBA when `alpha` is not empty. Throws
// std::invalid_argument when the buffers do not match the dimensions.
std::vector<std::uint8_t> encode_png(const Image &image);

} // namespace byteblend::tool

#endif
