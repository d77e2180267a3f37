// SPDX-License-Identifier: MIT
// The tool's JPEG reading and writing: each kind of JPEG reads as the pixels
// libjpeg's defaults make of it; broken, truncated, absurd and CMYK files
// are refused with their reason; what the encoder writes reads back within
// a known error.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "image_file.hpp"
#include "jpeg_fixtures.hpp"
#include "jpeg_image.hpp"
#include "png_image.hpp"

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
       "truncated JPEG file"},
      {"progressive, 30000 x 30000 pixels claimed in a small file",
       testing_support::with_claimed_jpeg_size(progressive, 30000, 30000),
       "invalid JPEG file: Corrupt JPEG data: premature end of data segment"},
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

// The most memory a call ever held at once beyond what was held before it
// (VmHWM, whose mark /proc/self/clear_refs resets); none where Linux does
// not offer that.
std::optional<std::size_t> peak_memory_of(const std::function<void()> &call) {
  const auto status_field = [](const std::string &name) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind(name + ":", 0) == 0) {
        return std::stoull(line.substr(name.size() + 1)) * 1024; // kB
      }
    }
    return 0ULL;
  };
  std::ofstream reset("/proc/self/clear_refs");
  if (!(reset << "5" << std::flush)) {
    return std::nullopt;
  }
  const auto before = status_field("VmRSS");
  call();
  return status_field("VmHWM") - std::min(before, status_field("VmHWM"));
}

TEST(JpegDecode, LyingHeadersCostOnlyWhatTheirDataHolds) {
  // Each claims 30000 x 30000 pixels (2.7 GB of RGB, and as much again of
  // coefficients for a progressive file) with a few kilobytes of data; the
  // data runs out in the first rows.
  if (const char *preload = std::getenv("LD_PRELOAD");
      preload != nullptr &&
      std::string_view(preload).find("valgrind") != std::string_view::npos) {
    GTEST_SKIP() << "under valgrind, whose allocator and shadow memory "
                    "count the untouched rows as taken";
  }
  for (const JpegFormat &format : testing_support::readable_jpeg_formats()) {
    if (format.arithmetic) {
      continue; // flat data of any size fits in a few bytes: see below
    }
    const auto lie = testing_support::with_claimed_jpeg_size(
        testing_support::make_jpeg(format, 64, 48, 3), 30000, 30000);
    std::string reason;
    const auto peak = peak_memory_of([&] {
      try {
        (void)decode_jpeg(lie);
      } catch (const std::runtime_error &error) {
        reason = error.what();
      }
    });
    // A progressive file's first scan runs into the next scan's tables,
    // which libjpeg cannot tell from damage.
    EXPECT_EQ(reason, format.progressive ? "invalid JPEG file: Corrupt JPEG "
                                           "data: premature end of data segment"
                                         : "truncated JPEG file")
        << format.name;
    if (!peak) {
      GTEST_SKIP() << "no /proc/self/clear_refs to measure memory with";
    }
    // A small part of the rows, were they all taken (AddressSanitizer's
    // shadow of the untouched rows alone takes an eighth of them).
    EXPECT_LT(*peak, std::size_t{30000} * 30000 * 3 / 4) << format.name;
  }
}

TEST(JpegDecode, FlatImagesOfAnySizeInFewBytesAreRead) {
  // An arithmetic-coded flat image takes about 200 bytes at any size: no
  // ratio of pixels to bytes tells a real file from a lie.
  for (const JpegFormat &format : testing_support::readable_jpeg_formats()) {
    const auto file = testing_support::make_flat_jpeg(format, 640, 480, 255);
    try {
      const Image image = decode_jpeg(file);
      EXPECT_EQ(image.rgb, testing_support::decode_with_libjpeg(file).rgb)
          << format.name;
    } catch (const std::runtime_error &error) {
      ADD_FAILURE() << format.name << " (" << file.size()
                    << " bytes): " << error.what();
    }
  }
}

TEST(JpegDecode, EveryFlipThatLibjpegNoticesIsRefused) {
  // JPEG has no checksum: a flipped bit that still decodes into valid codes
  // cannot be told from an image. Each one that libjpeg notices (and warns
  // of, showing the damage) must be refused.
  for (const JpegFormat &format :
       {JpegFormat{"baseline", JpegColour::ycbcr},
        JpegFormat{"progressive", JpegColour::ycbcr, true},
        JpegFormat{"restart markers", JpegColour::ycbcr, false, 1},
        JpegFormat{"arithmetic", JpegColour::ycbcr, false, 0, true}}) {
    const auto good = testing_support::make_jpeg(format, 32, 24, 5);
    int noticed = 0;
    int accepted = 0;
    for (std::size_t at = testing_support::first_scan_data(good);
         at + 2 < good.size(); ++at) {
      for (int bit = 0; bit < 8; ++bit) {
        auto flipped = good;
        flipped[at] ^= static_cast<std::uint8_t>(1U << bit);
        const auto verdict = testing_support::libjpeg_verdict(flipped);
        if (!verdict.error && verdict.warnings == 0) {
          continue;
        }
        ++noticed;
        try {
          (void)decode_jpeg(flipped);
          ++accepted;
        } catch (const std::runtime_error &) {
        }
      }
    }
    EXPECT_GT(noticed, 0) << format.name;
    EXPECT_EQ(accepted, 0) << format.name << ": of " << noticed
                           << " flips that libjpeg notices";
  }
}

struct ScanCount {
  int bands, refinements;
  bool read;
};

TEST(JpegDecode, ProgressiveFilesOfMoreThanAHundredScansAreRefused) {
  // Each scan passes over the whole image: many tiny scans cost many times
  // the decoding of a plain file. libjpeg's own progressive files have 10
  // (and read: see JpegDecodeTest).
  const ScanCount counts[] = {
      {9, 0, true},    // 10 scans
      {33, 2, true},   // 100
      {50, 1, false},  // 101
      {63, 10, false}, // 694, the most libjpeg writes
  };
  for (const ScanCount &count : counts) {
    const auto file = testing_support::make_many_scan_jpeg(48, 32, count.bands,
                                                           count.refinements);
    const int scans = 1 + count.bands * (1 + count.refinements);
    try {
      const Image image = decode_jpeg(file);
      EXPECT_TRUE(count.read) << scans << " scans read";
      EXPECT_EQ(image.rgb, testing_support::decode_with_libjpeg(file).rgb)
          << scans << " scans";
    } catch (const std::runtime_error &error) {
      EXPECT_FALSE(count.read) << scans << " scans: " << error.what();
      EXPECT_EQ(std::string(error.what()),
                "JPEG file of more than 100 scans, the limit")
          << scans << " scans";
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

// A file's bytes a few at a time, as a pipe may give them, and then either
// its end or a failure to read.
class TrickleSource final : public byteblend::tool::ByteSource {
public:
  TrickleSource(std::span<const std::uint8_t> bytes, int error)
      : bytes_(bytes), error_at_end_(error) {}
  [[nodiscard]] std::optional<std::uint64_t> size() const noexcept override {
    return std::nullopt;
  }

private:
  std::size_t pull(std::span<std::uint8_t> into) noexcept override {
    const std::size_t count =
        std::min({into.size(), bytes_.size(), std::size_t{3}});
    std::copy_n(bytes_.begin(), count, into.begin());
    bytes_ = bytes_.subspan(count);
    if (count == 0) {
      error_ = error_at_end_;
    }
    return count;
  }
  std::span<const std::uint8_t> bytes_;
  int error_at_end_;
};

TEST(ImageFile, IsReadAsItIsDecodedFromAnySource) {
  const auto jpeg = testing_support::make_jpeg(
      {"progressive", JpegColour::ycbcr, true}, 19, 11, 6);
  const Image decoded = decode_jpeg(jpeg);
  const auto png = byteblend::tool::encode_png(decoded);
  for (const auto &file : {jpeg, png}) {
    TrickleSource whole(file, 0);
    EXPECT_EQ(byteblend::tool::decode_image(whole).rgb, decoded.rgb);
    // Cut short by a failure to read, not by the end of the file.
    TrickleSource failing(
        std::span<const std::uint8_t>(file).first(file.size() / 2), EIO);
    try {
      (void)byteblend::tool::decode_image(failing);
      ADD_FAILURE() << "read despite the failure";
    } catch (const std::runtime_error &error) {
      EXPECT_STREQ(error.what(), "cannot read: Input/output error");
    }
  }
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

// An output written directly (standard output, a device) has no name of its
// own: PNG on the command line, refused in a folder run.
TEST(ImageFile, OutputFormatFallsBackToPngOnlyWhereAsked) {
  using byteblend::tool::DirectOutput;
  using byteblend::tool::Format;
  struct Case {
    const char *out;
    DirectOutput direct;
    std::optional<Format> format; // none: refused
  };
  const Case cases[] = {
      {"a.JPG", DirectOutput::refused, Format::jpeg},
      {"/dev/null.png", DirectOutput::refused, Format::png},
      {"-", DirectOutput::png, Format::png},
      {"/dev/null", DirectOutput::png, Format::png},
      {"-", DirectOutput::refused, std::nullopt},
      {"/dev/null", DirectOutput::refused, std::nullopt},
      {"out.gif", DirectOutput::png, std::nullopt},
  };
  for (const Case &c : cases) {
    const std::string what =
        std::string(c.out) + (c.direct == DirectOutput::png ? ", png" : "");
    if (c.format) {
      EXPECT_EQ(byteblend::tool::output_format(c.out, c.direct), *c.format)
          << what;
      continue;
    }
    try {
      (void)byteblend::tool::output_format(c.out, c.direct);
      ADD_FAILURE() << what << ": not refused";
    } catch (const std::runtime_error &error) {
      EXPECT_EQ(std::string(error.what()),
                std::string(c.out) + ": cannot tell the output format; the "
                                     "name must end in .png, .jpg or .jpeg")
          << what;
    }
  }
}

} // namespace
