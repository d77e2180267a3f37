// SPDX-License-Identifier: MIT
// The tool's PNG reading and writing: every colour type and bit depth reads
// as the 8-bit RGB (and alpha) it holds; broken, truncated and absurd files
// are refused with their reason; what the encoder writes reads back.
#include <gtest/gtest.h>

#include <cctype>
#include <stdexcept>
#include <string>
#include <vector>

#include "png_fixtures.hpp"
#include "png_image.hpp"

namespace {

using byteblend::tool::decode_png;
using byteblend::tool::encode_png;
using byteblend::tool::Image;
using testing_support::PngFormat;

class DecodeTest : public testing::TestWithParam<PngFormat> {};

TEST_P(DecodeTest, ReadsAsEightBitRgbWithAlphaWhereThereIsAny) {
  // Odd sizes, so that low-depth rows end mid-byte and interlace passes are
  // uneven.
  for (const auto &[width, height] : {std::pair{13U, 7U}, std::pair{1U, 1U}}) {
    const auto fixture =
        testing_support::make_png(GetParam(), width, height, width + 17);
    const Image image = decode_png(fixture.file);
    EXPECT_EQ(image.width, width);
    EXPECT_EQ(image.height, height);
    EXPECT_EQ(image.rgb, fixture.rgb);
    EXPECT_EQ(image.alpha, fixture.alpha);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, DecodeTest,
                         testing::ValuesIn(testing_support::all_formats()),
                         [](const testing::TestParamInfo<PngFormat> &info) {
                           std::string name;
                           for (const char c : info.param.name) {
                             name += std::isalnum(static_cast<unsigned char>(c))
                                         ? c
                                         : '_';
                           }
                           return name;
                         });

std::vector<std::uint8_t> small_png() {
  return testing_support::make_png({"RGB", testing_support::Layout::rgb, 8}, 16,
                                   16, 3)
      .file;
}

std::vector<std::uint8_t> cut(std::vector<std::uint8_t> file,
                              std::size_t size) {
  file.resize(size);
  return file;
}

TEST(DecodeBadData, IsRefusedWithItsReason) {
  const std::vector<std::uint8_t> good = small_png();
  std::vector<std::uint8_t> bad_crc = good;
  bad_crc[20] ^= 1; // height, inside IHDR
  std::vector<std::uint8_t> bad_data = good;
  bad_data[good.size() - 20] ^= 0xFF; // inside the image data
  const std::vector<std::uint8_t> text = {'h', 'e', 'l', 'l', 'o', ' ',
                                          'w', 'o', 'r', 'l', 'd'};
  struct Case {
    std::string what;
    std::vector<std::uint8_t> file;
    std::string reason;
  };
  const Case cases[] = {
      {"empty", {}, "not a PNG file"},
      {"text", text, "not a PNG file"},
      {"half a signature", cut(good, 4), "truncated PNG file"},
      {"signature only", cut(good, 8), "truncated PNG file"},
      {"cut in the header", cut(good, 20), "truncated PNG file"},
      {"cut in the image data", cut(good, good.size() / 2),
       "truncated PNG file"},
      {"no end chunk", cut(good, good.size() - 12), "truncated PNG file"},
      {"cut in the end chunk", cut(good, good.size() - 1),
       "truncated PNG file"},
      {"header CRC", bad_crc, "invalid PNG file: IHDR: CRC error"},
      {"damaged image data", bad_data, "invalid PNG file"},
      {"zero width", testing_support::with_claimed_size(good, 0, 16),
       "invalid PNG file"},
      {"wider than the limit",
       testing_support::with_claimed_size(good, (1U << 20) + 1, 1),
       "image of 1048577x1 pixels is larger than the limit of 1048576 pixels "
       "each way"},
      {"taller than the limit",
       testing_support::with_claimed_size(good, 1, (1U << 20) + 1),
       "image of 1x1048577 pixels is larger than the limit of 1048576 pixels "
       "each way"},
      // libpng would take memory for a row of this before reading on.
      {"as wide as PNG allows",
       testing_support::with_claimed_size(good, 0x7FFFFFFF, 1),
       "image of 2147483647x1 pixels is larger than the limit"},
      // Within the limits, though wider than libpng's own default limit of
      // a million pixels, which is not the tool's.
      {"a million and one pixels wide",
       testing_support::with_claimed_size(good, 1000001, 1),
       "truncated PNG file (1000001x1 pixels cannot fit in"},
      {"more pixels than the limit",
       testing_support::with_claimed_size(good, 40000, 40000),
       "image of 40000x40000 pixels is larger than the limit"},
      // Allowed by the limits, but 2.7 GB of rows cannot come out of a few
      // hundred bytes: refused before any of it is allocated.
      {"more than the data can hold",
       testing_support::with_claimed_size(good, 30000, 30000),
       "truncated PNG file (30000x30000 pixels cannot fit in"},
  };
  for (const Case &c : cases) {
    try {
      decode_png(c.file);
      ADD_FAILURE() << c.what << ": accepted";
    } catch (const std::runtime_error &error) {
      EXPECT_EQ(std::string(error.what()).rfind(c.reason, 0), 0U)
          << c.what << ": " << error.what();
    }
  }
}

TEST(Encode, ReadsBackAsWritten) {
  for (const bool alpha : {false, true}) {
    const auto fixture = testing_support::make_png(
        {"RGBA", testing_support::Layout::rgb_alpha, 8}, 9, 5, 11);
    Image image{9, 5, fixture.rgb, alpha ? fixture.alpha : Image{}.alpha};
    const Image back = decode_png(encode_png(image));
    EXPECT_EQ(back.width, image.width);
    EXPECT_EQ(back.height, image.height);
    EXPECT_EQ(back.rgb, image.rgb);
    EXPECT_EQ(back.alpha, image.alpha);
  }
}

TEST(Encode, RefusesBuffersThatDoNotMatchTheSize) {
  const std::vector<std::uint8_t> six(std::size_t{6} * 3);
  const std::vector<std::uint8_t> alpha5(5);
  for (const Image &image : {Image{2, 3, std::vector<std::uint8_t>(17), {}},
                             Image{2, 3, six, alpha5}, Image{0, 3, {}, {}}}) {
    EXPECT_THROW(encode_png(image), std::invalid_argument)
        << image.width << "x" << image.height;
  }
}

} // namespace
