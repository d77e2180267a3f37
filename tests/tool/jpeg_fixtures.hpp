// SPDX-License-Identifier: MIT
// JPEG files written and read with libjpeg directly (not through the tool's
// own code): the files the tests and the fuzzer's seeds start from, and the
// pixels libjpeg's defaults make of a file.
#ifndef BYTEBLEND_TESTS_JPEG_FIXTURES_HPP
#define BYTEBLEND_TESTS_JPEG_FIXTURES_HPP

#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace testing_support {

enum class JpegColour { grey, ycbcr, cmyk };

struct JpegFormat {
  std::string name; // for messages
  JpegColour colour = JpegColour::ycbcr;
  bool progressive = false;
  unsigned restart_rows = 0; // 0: no restart markers
  bool arithmetic = false;
  int quality = 90;
};

inline void PrintTo(const JpegFormat &format, std::ostream *out) {
  *out << format.name;
}

// Noise, or when `smooth` a gradient with a little noise, in the given
// format; the same seed gives the same file.
std::vector<std::uint8_t> make_jpeg(const JpegFormat &format,
                                    std::uint32_t width, std::uint32_t height,
                                    unsigned seed, bool smooth = false);

// An image of one grey value throughout, in the given format.
std::vector<std::uint8_t> make_flat_jpeg(const JpegFormat &format,
                                         std::uint32_t width,
                                         std::uint32_t height,
                                         std::uint8_t value);

// A grey progressive file of noise, with a scan script of its own: one DC
// scan, then the 63 AC coefficients in `bands` bands (1 to 63), each sent in
// 1 + `refinements` scans (successive approximation, `refinements` from 0
// to 10): 1 + bands * (1 + refinements) scans, all legal.
std::vector<std::uint8_t> make_many_scan_jpeg(std::uint32_t width,
                                              std::uint32_t height, int bands,
                                              int refinements);

// Every colour format the tool reads.
std::vector<JpegFormat> readable_jpeg_formats();

struct Pixels {
  std::uint32_t width = 0, height = 0;
  std::vector<std::uint8_t> rgb; // grey expanded: R = G = B
};

// A valid file as libjpeg decodes it with every default (colour files to
// RGB, grey files as grey, then expanded here).
Pixels decode_with_libjpeg(std::span<const std::uint8_t> file);

// What libjpeg says of a file as it decodes it with every default: whether
// it gave up (an error) and how many warnings it gave (of damage it shows).
struct LibjpegVerdict {
  bool error = false;
  int warnings = 0;
};
LibjpegVerdict libjpeg_verdict(std::span<const std::uint8_t> file);

// A copy of a file whose frame header (SOF) claims width x height.
std::vector<std::uint8_t> with_claimed_jpeg_size(std::vector<std::uint8_t> file,
                                                 std::uint16_t width,
                                                 std::uint16_t height);

// Where the entropy-coded data of the first scan starts (after its SOS
// header).
std::size_t first_scan_data(const std::vector<std::uint8_t> &file);

} // namespace testing_support

#endif
