// SPDX-License-Identifier: MIT
// PNG files of every colour type and bit depth, written with libpng directly
// (not with the tool's own encoder), each with the 8-bit RGB and alpha that
// a correct reader must make of it.
#ifndef BYTEBLEND_TESTS_PNG_FIXTURES_HPP
#define BYTEBLEND_TESTS_PNG_FIXTURES_HPP

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace testing_support {

enum class Layout {
  grey,
  grey_alpha,
  palette,
  rgb,
  rgb_alpha,
};

struct PngFormat {
  std::string name; // "grey 4-bit", for messages
  Layout layout;
  int depth;
  bool transparency = false; // a tRNS chunk
  bool interlaced = false;
};

// How GoogleTest prints a format: by its name (printed byte by byte, the
// struct's padding would be read uninitialised).
inline void PrintTo(const PngFormat &format, std::ostream *out) {
  *out << format.name;
}

struct Fixture {
  std::vector<std::uint8_t> file;
  std::uint32_t width, height;
  std::vector<std::uint8_t> rgb;   // what the reader must produce
  std::vector<std::uint8_t> alpha; // empty: no alpha
};

// Random content in the given format; the same seed gives the same file.
Fixture make_png(const PngFormat &format, std::uint32_t width,
                 std::uint32_t height, unsigned seed);

// Every format the tests read.
std::vector<PngFormat> all_formats();

// A PNG file whose header claims width x height (CRCs recomputed), with the
// image data of a small real image.
std::vector<std::uint8_t> with_claimed_size(std::vector<std::uint8_t> file,
                                            std::uint32_t width,
                                            std::uint32_t height);

} // namespace testing_support

#endif
