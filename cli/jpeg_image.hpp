// SPDX-License-Identifier: MIT
// JPEG files in and out for the byteblend tool, through libjpeg(-turbo).
//
// Colour and grey JPEG files (baseline, progressive, arithmetic-coded, any
// chroma subsampling) are read as 8-bit RGB with libjpeg's defaults (the
// accurate integer DCT, smooth upsampling); grey is expanded to R = G = B.
// CMYK and YCCK files are refused: converting them needs a colour profile
// the tool does not have. The EXIF orientation is not applied; the pixels
// are returned as stored.
//
// Limits, checked from the header before any image memory is allocated:
// the image's (kMaxSide each way, kMaxPixels in all). No ratio of
// pixels to bytes is asked for: an arithmetic-coded flat image of any size
// takes about 200 bytes. Instead, the file is read as it is decoded, never
// held whole, the rows' memory, reserved at once, is only used as they are
// decoded, and libjpeg's own memory is capped at what the limits need, so a
// header that claims more than its data holds costs no more than the data
// decoded before the data runs out. A progressive file may have at most
// kMaxScans scans, so that no file costs more than a few times as much to
// decode as a progressive file of libjpeg's own of its size.
//
// A JPEG file that libjpeg would show with damage is refused instead: every
// warning of libjpeg ends the decoding, so truncated data ("truncated JPEG
// file"), corrupt entropy data, bytes where a marker belongs and a bad
// progression are all refused. JPEG has no checksum, though: damage that
// still decodes into valid codes cannot be told from an image and is shown
// as it decodes; libjpeg notices only about one in ten single bit flips in
// the Huffman-coded data of a baseline file (nearly all in arithmetic-coded
// data).
#ifndef BYTEBLEND_CLI_JPEG_IMAGE_HPP
#define BYTEBLEND_CLI_JPEG_IMAGE_HPP

#include <cstdint>
#include <span>
#include <vector>

#include "byte_source.hpp"
#include "image.hpp"

namespace byteblend::tool {

// Each scan passes over the whole image, or one colour of it, however
// little data it holds: a legal progressive file may have hundreds of tiny
// scans (694 take 86 times as long as a baseline file of 4096 x 4096 grey
// pixels). libjpeg's own progressive files have 6 to 10 scans (3 times a
// baseline file); 100 keep any file within 14 times, about 5 times one of
// those. (Grey is where scans weigh most: colour adds conversion and
// upsampling to every file, whatever its scans.)
inline constexpr int kMaxScans = 100;

// JPEG's own limit on each side, below kMaxSide: larger images cannot be
// written.
inline constexpr std::uint32_t kMaxJpegSide = 65500;

// Decodes a JPEG file into RGB, without alpha, reading it from `source` as
// far as it needs. Throws std::runtime_error whose message is the reason
// ("not a JPEG file", "truncated JPEG file", "CMYK JPEG files are not
// supported", "out of memory reading a WxH image", ...).
Image decode_jpeg(ByteSource &source);

// decode_jpeg of a whole file held in memory.
Image decode_jpeg(std::span<const std::uint8_t> file_bytes);

// Encodes the RGB of an image as a baseline JPEG of the given quality (1 to
// 100), YCbCr 4:2:0, or 4:4:4 at quality 100, where chroma detail is kept
// too. JPEG has no alpha: `image.alpha` is not written. Throws
// std::invalid_argument when the buffer does not match the dimensions or the
// quality is out of range.
std::vector<std::uint8_t> encode_jpeg(const Image &image, int quality);

} // namespace byteblend::tool

#endif
