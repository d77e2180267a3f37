// JPEG files in and out for the byteblend tool, through libjpeg(-turbo).
//
// Colour and grey JPEG files (baseline, progressive, arithmetic-coded, any
// chroma subsampling) are read as 8-bit RGB with libjpeg's defaults (the
// accurate integer DCT, smooth upsampling); grey is expanded to R = G = B.
// CMYK and YCCK files are refused: converting them needs a colour profile
// the tool does not have. The EXIF orientation is not applied; the pixels
// are returned as stored.
//
// Limits, checked from the header before any image memory is allocated: the
// same as for PNG (kMaxSide each way, kMaxPixels in all), and no more than
// kMaxPixelsPerByte pixels for each byte of the file, which no real JPEG
// comes near (with Huffman coding, which nearly every JPEG file uses, even a
// flat grey image takes at least a bit for each 8x8 block) but a truncated
// or forged header would claim.
//
// A JPEG file that libjpeg would show with damage is refused instead:
// truncated data ("truncated JPEG file") and corrupt entropy data. Warnings
// that do not damage the pixels (extra bytes before a marker, an unknown
// JFIF revision) are ignored.
#ifndef BYTEBLEND_CLI_JPEG_IMAGE_HPP
#define BYTEBLEND_CLI_JPEG_IMAGE_HPP

#include <cstdint>
#include <span>
#include <vector>

#include "png_image.hpp"

namespace byteblend::tool {

inline constexpr std::uint64_t kMaxPixelsPerByte = 1024;

// libjpeg-turbo itself gives up on files of more scans than this; a forged
// progressive file of thousands of tiny scans would otherwise take minutes.
inline constexpr int kMaxScans = 1000;

inline constexpr int kDefaultJpegQuality = 90;

// Whether the bytes start as a JPEG file does (the SOI marker, then a
// marker).
bool looks_like_jpeg(std::span<const std::uint8_t> file_bytes);

// Decodes a whole JPEG file held in memory into RGB, without alpha. Throws
// std::runtime_error whose message is the reason ("not a JPEG file",
// "truncated JPEG file", "CMYK JPEG files are not supported", ...).
Image decode_jpeg(std::span<const std::uint8_t> file_bytes);

// Encodes the RGB of an image as a baseline JPEG of the given quality (1 to
// 100), YCbCr 4:2:0, or 4:4:4 at quality 100, where chroma detail is kept
// too. JPEG has no alpha: `image.alpha` is not written. Throws
// std::invalid_argument when the buffer does not match the dimensions or the
// quality is out of range.
std::vector<std::uint8_t> encode_jpeg(const Image &image, int quality);

} // namespace byteblend::tool

#endif
