// The tool's JPEG reading and writing: each kind of JPEG reads as the pixels
// libjpeg's defaults make of it; broken, truncated, absurd and CMYK files
// are refused with their reason; what the encoder writes reads back within
// a known error.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "image_file.hpp"
#include "jpeg_fixtures.hpp"
#include "jpeg_image.hpp"

namespace {

using byteblend::tool::decode_jpeg;
using byteblend::tool::encode_jpeg;
using byteblend::tool::Image;
using testing_support::JpegColour;
using testing_support::JpegFormat;

class JpegDecodeTest : public testing::TestWithParam<JpegFormat> {};

TEST_P(JpegDecodeTest, ReadsAsLibjpegsDefaultsMakeIt) {
  // Sizes that end mid-block and mid-MCU, and a single pixel.
  for (const auto &[width, height] :
       {std::pair{37U, 21U}, std::pair{1U, 1U}, std::pair{16U, 8U}}) {
    const auto file =
        testing_support::make_jpeg(GetParam(), width, height, width + 5);
    const Image image = decode_jpeg(file);
    const auto expected = testing_support::decode_with_libjpeg(file);
    EXPECT_EQ(image.width, width);
    EXPECT_EQ(image.height, height);
    EXPECT_EQ(image.rgb, expected.rgb);
    EXPECT_TRUE(image.alpha.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryFormat, JpegDecodeTest,
    testing::ValuesIn(testing_support::readable_jpeg_formats()),
    [](const testing::TestParamInfo<JpegFormat> &info) {
      std::string name;
      for (const char c : info.param.name) {
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      }
      return name;
    });

TEST(JpegDecode, GreyIsExpandedToEqualRedGreenAndBlue) {
  const auto file =
      testing_support::make_jpeg({"grey", JpegColour::grey}, 9, 9, 4);
  const Image image = decode_jpeg(file);
  for (std::size_t i = 0; i < image.rgb.size(); i += 3) {
    ASSERT_EQ(image.rgb[i], image.rgb[i + 1]) << i;
    ASSERT_EQ(image.rgb[i], image.rgb[i + 2]) << i;
  }
}

std::vector<std::uint8_t> cut(std::vector<std::uint8_t> file,
                              std::size_t size) {
  file.resize(size);
  return file;
}

std::vector<std::uint8_t> overwrite(std::vector<std::uint8_t> file,
                                    std::size_t at,
                                    const std::vector<std::uint8_t> &bytes) {
  std::copy(bytes.begin(), bytes.end(),
            file.begin() + static_cast<std::ptrdiff_t>(at));
  return file;
}

struct Refusal {
  std::string what;
  std::vector<std::uint8_t> file;
  std::string reason; // the start of the message
};

TEST(JpegDecode, RefusesBrokenFilesWithTheirReason) {
  const auto good =
      testing_support::make_jpeg({"baseline", JpegColour::ycbcr}, 64, 48, 7);
  const auto restarts = testing_support::make_jpeg(
      {"restart markers", JpegColour::ycbcr, false, 1}, 64, 48, 8);
  const auto progressive = testing_support::make_jpeg(
      {"progressive", JpegColour::ycbcr, true}, 64, 48, 9);
  const std::size_t data = testing_support::first_scan_data(good);
  const Refusal refusals[] = {
      {"empty", {}, "not a JPEG file"},
      {"other format", {'G', 'I', 'F', '8'}, "not a JPEG file"},
      {"only the start marker", {0xFF, 0xD8}, "truncated JPEG file"},
      {"cut in the header", cut(good, 100), "truncated JPEG file"},
      {"cut in the data", cut(good, data + 200), "truncated JPEG file"},
      {"cut before the end marker", cut(good, good.size() - 2),
       "truncated JPEG file"},
      {"progressive cut in a later scan",
       cut(progressive, progressive.size() - 300), "truncated JPEG file"},
      {"marker inside the entropy data",
       overwrite(good, data + 100, {0xFF, 0xC4}), "invalid JPEG file: Corrupt"},
      {"restart marker out of order",
       overwrite(restarts, testing_support::first_scan_data(restarts) + 2,
                 {0xFF, 0xD5}),
       "invalid JPEG file: Corrupt"},
      {"CMYK", testing_support::make_jpeg({"CMYK", JpegColour::cmyk}, 8, 8, 1),
       "CMYK JPEG files are not supported"},
      {"60000 x 60000 pixels claimed",
       testing_support::with_claimed_jpeg_size(good, 60000, 60000),
       "image of 60000x60000 pixels is larger than the limit"},
      {"more than JPEG's 65500 pixels a side",
       testing_support::with_claimed_jpeg_size(good, 65535, 8),
       "invalid JPEG file: Maximum supported image dimension"},
      {"30000 x 30000 pixels claimed in a small file",
       testing_support::with_claimed_jpeg_size(good, 30000, 30000),
       "truncated JPEG file (30000x30000 pixels cannot fit in"},
      {"zero width", testing_support::with_claimed_jpeg_size(good, 0, 48),
       "invalid JPEG file"},
  };
  for (const Refusal &refusal : refusals) {
    try {
      const Image image = decode_jpeg(refusal.file);
      ADD_FAILURE() << refusal.what << ": read as " << image.width << "x"
                    << image.height;
    } catch (const std::runtime_error &error) {
      EXPECT_EQ(std::string(error.what()).rfind(refusal.reason, 0), 0U)
          << refusal.what << ": " << error.what();
    }
  }
}

// Mean and largest absolute difference of two equally long byte arrays.
std::pair<double, int> error_of(const std::vector<std::uint8_t> &a,
                                const std::vector<std::uint8_t> &b) {
  double sum = 0;
  int largest = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const int difference = std::abs(int{a[i]} - int{b[i]});
    sum += difference;
    largest = std::max(largest, difference);
  }
  return {sum / static_cast<double>(a.size()), largest};
}

struct Bound {
  int quality;
  bool smooth;
  double mean;
  int largest;
};

TEST(JpegEncode, ReadsBackWithinTheErrorOfItsQuality) {
  // Measured (mean, largest): 0.18, 3 at quality 100 on noise; 1.97, 10 at
  // 90 and 2.59, 13 at 50 on a gradient; with some room. At quality 100
  // (4:4:4) only the colour conversion and the DCT's rounding remain, even
  // on noise; with 4:2:0 chroma, noise would be off by far more.
  const Bound bounds[] = {
      {100, false, 0.5, 4},
      {100, true, 0.5, 4},
      {90, true, 2.5, 14},
      {50, true, 3.5, 24},
  };
  for (const Bound &bound : bounds) {
    const auto source = testing_support::make_jpeg(
        {"q100", JpegColour::ycbcr, false, 0, false, 100}, 61, 35, 3,
        bound.smooth);
    Image image;
    image.width = 61;
    image.height = 35;
    image.rgb = testing_support::decode_with_libjpeg(source).rgb;
    const auto file = encode_jpeg(image, bound.quality);
    const auto back = testing_support::decode_with_libjpeg(file);
    ASSERT_EQ(back.width, 61U);
    ASSERT_EQ(back.height, 35U);
    const auto [mean, largest] = error_of(back.rgb, image.rgb);
    EXPECT_LE(mean, bound.mean) << "quality " << bound.quality;
    EXPECT_LE(largest, bound.largest) << "quality " << bound.quality;
  }
}

TEST(JpegEncode, RefusesWhatItCannotWrite) {
  Image image;
  image.width = 2;
  image.height = 2;
  image.rgb.assign(12, 0);
  EXPECT_THROW((void)encode_jpeg(image, 0), std::invalid_argument);
  EXPECT_THROW((void)encode_jpeg(image, 101), std::invalid_argument);
  image.rgb.resize(11);
  EXPECT_THROW((void)encode_jpeg(image, 90), std::invalid_argument);
}

TEST(ImageFile, FormatIsToldByContentAndOutputByName) {
  const auto jpeg =
      testing_support::make_jpeg({"baseline", JpegColour::ycbcr}, 5, 4, 2);
  EXPECT_EQ(byteblend::tool::decode_image(jpeg).rgb,
            testing_support::decode_with_libjpeg(jpeg).rgb);
  EXPECT_THROW((void)byteblend::tool::decode_image(
                   std::vector<std::uint8_t>{'B', 'M', 0, 0}),
               std::runtime_error);
  using byteblend::tool::Format;
  const std::pair<const char *, std::optional<Format>> names[] = {
      {"a.png", Format::png},      {"a.PNG", Format::png},
      {"b/a.jpg", Format::jpeg},   {"a.JPeG", Format::jpeg},
      {"a.gif", std::nullopt},     {"png", std::nullopt},
      {"a.png.txt", std::nullopt},
  };
  for (const auto &[name, format] : names) {
    EXPECT_EQ(byteblend::tool::format_named_by(name), format) << name;
  }
}

} // namespace
