// SPDX-License-Identifier: MIT
// The tool's pieces that the command line does not show exactly: how --at
// and --opacity are read, which rectangle a placement covers, when a blend
// is the plain kernels' and what the layers make of the rest, the progress
// bar's text, and files written from several threads at once.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "file_io.hpp"
#include "layered_expectation.hpp"
#include "opacity.hpp"
#include "placement.hpp"
#include "printable.hpp"
#include "progress.hpp"
#include "whole_number.hpp"

namespace {

using byteblend::tool::Offset;
using byteblend::tool::Overlap;

TEST(ParseOffset, TakesTwoSignedWholeNumbers) {
  const std::pair<const char *, std::optional<std::pair<long, long>>> cases[] =
      {
          {"0,0", std::pair{0L, 0L}},
          {"12,-7", std::pair{12L, -7L}},
          {"+3,-2147483648", std::pair{3L, -2147483648L}},
          {"2147483647,1", std::pair{2147483647L, 1L}},
          {"2147483648,1", std::nullopt},
          {"1", std::nullopt},
          {"1,", std::nullopt},
          {",1", std::nullopt},
          {"1,2,3", std::nullopt},
          {"1.5,2", std::nullopt},
          {" 1,2", std::nullopt},
          {"1,2 ", std::nullopt},
          {"+-1,2", std::nullopt},
          {"x,y", std::nullopt},
      };
  for (const auto &[text, expected] : cases) {
    const std::optional<Offset> offset = byteblend::tool::parse_offset(text);
    ASSERT_EQ(offset.has_value(), expected.has_value()) << text;
    if (expected) {
      EXPECT_EQ(offset->x, expected->first) << text;
      EXPECT_EQ(offset->y, expected->second) << text;
    }
  }
}

struct Placement {
  const char *what;
  Offset at;
  Overlap overlap;
};

TEST(OverlapOf, ClipsTopToBottom) {
  // A 4x3 TOP on a 10x8 BOTTOM.
  const Placement placements[] = {
      {"inside", {2, 1}, {2, 6, 1, 4}},
      {"corner", {0, 0}, {0, 4, 0, 3}},
      {"left and above", {-3, -2}, {0, 1, 0, 1}},
      {"right and below", {8, 6}, {8, 10, 6, 8}},
      {"just outside, right", {10, 0}, {10, 10, 0, 3}},
      {"just outside, above", {0, -3}, {0, 4, 0, 0}},
      {"far away", {-2147483648, 2147483647}, {0, 0, 8, 8}},
  };
  for (const Placement &p : placements) {
    const Overlap o = byteblend::tool::overlap_of(4, 3, 10, 8, p.at);
    EXPECT_EQ(o.x0, p.overlap.x0) << p.what;
    EXPECT_EQ(o.x1, p.overlap.x1) << p.what;
    EXPECT_EQ(o.y0, p.overlap.y0) << p.what;
    EXPECT_EQ(o.y1, p.overlap.y1) << p.what;
    EXPECT_EQ(o.empty(),
              p.overlap.x0 == p.overlap.x1 || p.overlap.y0 == p.overlap.y1)
        << p.what;
  }
  // TOP larger than BOTTOM covers all of it.
  const Overlap all = byteblend::tool::overlap_of(30, 30, 10, 8, {-5, -5});
  EXPECT_EQ(all.x0, 0U);
  EXPECT_EQ(all.x1, 10U);
  EXPECT_EQ(all.y0, 0U);
  EXPECT_EQ(all.y1, 8U);
}

// An image of random bytes.
byteblend::tool::Image random_image(std::uint32_t width, std::uint32_t height,
                                    unsigned seed) {
  byteblend::tool::Image image;
  image.width = width;
  image.height = height;
  image.rgb.resize(std::size_t{width} * height * 3);
  std::mt19937 engine(seed);
  for (std::uint8_t &byte : image.rgb) {
    byte = static_cast<std::uint8_t>(engine());
  }
  return image;
}

// Placed blends give BOTTOM with each row of the overlap blended by the flat
// blend() of TOP's part of that row, on any thread count. The images are
// large enough for the compute-bound modes to be split across threads.
TEST(BlendOnto, PlacedRowsAreTheFlatBlendOfEachRowOnAnyThreadCount) {
  constexpr std::uint32_t kTopWidth = 480;
  constexpr std::uint32_t kTopHeight = 400;
  static_assert(std::size_t{kTopWidth} * kTopHeight * 3 / 2 >=
                byteblend::threaded_from(byteblend::Mode::color_dodge));
  const byteblend::tool::Image top = random_image(kTopWidth, kTopHeight, 1);
  const struct {
    const char *what;
    std::uint32_t bottom_width, bottom_height;
    Offset at;
  } cases[] = {
      {"off the left and top edges", 500, 400, {-70, -40}},
      {"off the right edge", 500, 400, {200, 30}},
      {"off the bottom edge", 500, 400, {10, 200}},
      {"inside", 500, 400, {40, 35}},
      {"whole rows of both", kTopWidth, 400, {0, 50}},
      {"wider than BOTTOM", 300, 400, {-60, 10}},
  };
  for (const auto &c : cases) {
    const byteblend::tool::Image bottom =
        random_image(c.bottom_width, c.bottom_height, 2);
    const Overlap o = byteblend::tool::overlap_of(
        kTopWidth, kTopHeight, c.bottom_width, c.bottom_height, c.at);
    for (const byteblend::Mode mode :
         {byteblend::Mode::color_dodge, byteblend::Mode::overlay,
          byteblend::Mode::blue_channel}) {
      byteblend::tool::Image expected = bottom;
      const std::size_t bytes = std::size_t{o.x1 - o.x0} * 3;
      for (std::uint32_t y = o.y0; y < o.y1; ++y) {
        const std::size_t top_at =
            ((y - c.at.y) * std::size_t{kTopWidth} + (o.x0 - c.at.x)) * 3;
        const std::size_t bottom_at =
            (y * std::size_t{c.bottom_width} + o.x0) * 3;
        const std::span<std::uint8_t> row(&expected.rgb[bottom_at], bytes);
        byteblend::blend(mode, std::span(&top.rgb[top_at], bytes), row, row);
      }
      for (const unsigned threads : {1U, 2U, 0U}) {
        byteblend::tool::Image placed = bottom;
        byteblend::tool::blend_onto(mode, byteblend::tool::TopLayer(top),
                                    placed, c.at, {}, threads);
        EXPECT_EQ(placed.rgb, expected.rgb)
            << c.what << ", " << byteblend::name(mode) << ", " << threads
            << " threads";
      }
    }
  }
}

TEST(ParseOpacity, TakesAFractionOrAPercentageFromNoneToAll) {
  // Each accepted form with the opacity byte it stands for.
  const std::pair<const char *, int> accepted[] = {
      {"0", 0},      {"1", 255},     {"0.5", 128},   {".5", 128},
      {"1.0", 255},  {"000.25", 64}, {"0.7", 179},   {"0.70", 179},
      {"70%", 179},  {"0.3", 77},    {"30%", 77},    {"0.1", 26},
      {"10%", 26},   {"0%", 0},      {"100%", 255},  {"100.0%", 255},
      {"12.5%", 32}, {".5%", 1},     {"0.002", 1},   {"0.0019", 0},
      {"0.00", 0},   {"1.000", 255}, {"99.99%", 255}};
  for (const auto &[text, byte] : accepted) {
    const std::optional<double> opacity = byteblend::tool::parse_opacity(text);
    ASSERT_TRUE(opacity.has_value()) << text;
    EXPECT_EQ(byteblend::opacity_byte(*opacity), byte) << text;
  }
  // The same digits give the same double, as a fraction or a percentage.
  EXPECT_EQ(byteblend::tool::parse_opacity("33.3%"),
            byteblend::tool::parse_opacity("0.333"));
  EXPECT_EQ(byteblend::tool::parse_opacity("0.07%"),
            byteblend::tool::parse_opacity("0.0007"));
  for (const char *refused :
       {"",     "%",    ".",        "1.",      "5.%",     "-0",  "-0.5",
        "+0.5", "1.5",  "1.0001",   "101%",    "100.01%", "2",   "nan",
        "NaN",  "inf",  "infinity", "0x0.8p0", "5e-1",    "1e0", " 0.5",
        "0.5 ", "70 %", "70%%",     "%70",     "0,5",     "1/2", "0.5.5",
        "..5",  "half", "1e400",    "0.5\n"}) {
    EXPECT_FALSE(byteblend::tool::parse_opacity(refused).has_value())
        << "'" << refused << "'";
  }
}

// The plain kernels blend exactly the cases whose bytes are theirs: one of
// their modes, an opaque TOP at full opacity, nothing for over to change.
TEST(IsPlainBlend, OnlyAnOpaqueTopAtFullOpacityInAKernelsMode) {
  using byteblend::LayerMode;
  using byteblend::Operator;
  byteblend::tool::Image rgba = random_image(2, 2, 1);
  rgba.alpha.assign(4, 255);
  const byteblend::tool::TopLayer opaque(random_image(2, 2, 1));
  const byteblend::tool::TopLayer with_alpha(rgba);
  const struct {
    const char *what;
    LayerMode mode;
    const byteblend::tool::TopLayer *top;
    double opacity;
    Operator blend_operator;
    bool bottom_has_alpha, plain;
  } cases[] = {
      {"opaque, full", byteblend::Mode::screen, &opaque, 1, Operator::atop,
       true, true},
      {"over onto opaque", byteblend::Mode::screen, &opaque, 1, Operator::over,
       false, true},
      {"byte 255 below 1", byteblend::Mode::screen, &opaque, 0.999,
       Operator::atop, false, true},
      {"over onto alpha", byteblend::Mode::screen, &opaque, 1, Operator::over,
       true, false},
      {"opacity", byteblend::Mode::screen, &opaque, 0.99, Operator::atop, false,
       false},
      {"alpha, even all 255", byteblend::Mode::screen, &with_alpha, 1,
       Operator::atop, false, false},
      {"normal", LayerMode::normal, &opaque, 1, Operator::atop, false, false},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(byteblend::tool::is_plain_blend(c.mode, *c.top,
                                              {c.opacity, c.blend_operator},
                                              c.bottom_has_alpha),
              c.plain)
        << c.what;
  }
}

// An image of random bytes with random alpha.
byteblend::tool::Image random_rgba(std::uint32_t width, std::uint32_t height,
                                   unsigned seed) {
  byteblend::tool::Image image = random_image(width, height, seed);
  image.alpha.resize(std::size_t{width} * height);
  std::mt19937 engine(seed + 1000);
  for (std::uint8_t &byte : image.alpha) {
    byte = static_cast<std::uint8_t>(engine());
  }
  return image;
}

// Whatever is not a plain blend is the layers' composite, in every mode,
// atop and over, with alpha on either side or none, placed or whole.
TEST(BlendOnto, LayersGiveTheIntegerReferencePixelByPixel) {
  const byteblend::tool::Image rgb_bottom = random_image(9, 7, 3);
  const byteblend::tool::Image rgba_bottom = random_rgba(9, 7, 4);
  const struct {
    const char *what;
    byteblend::tool::Image top;
    const byteblend::tool::Image *bottom;
    std::optional<Offset> at;
    double opacity;
  } cases[] = {
      {"RGBA onto RGB, placed", random_rgba(5, 4, 5), &rgb_bottom, Offset{2, 1},
       0.7},
      {"RGBA onto RGBA, off the corner", random_rgba(5, 4, 6), &rgba_bottom,
       Offset{-2, 5}, 1},
      {"RGB onto RGBA, whole, half opacity", random_image(9, 7, 7),
       &rgba_bottom, std::nullopt, 0.5},
      {"RGBA onto RGBA, whole, none", random_rgba(9, 7, 8), &rgba_bottom,
       std::nullopt, 0},
      {"RGBA larger than BOTTOM", random_rgba(12, 10, 9), &rgba_bottom,
       Offset{-1, -2}, 0.25},
  };
  for (const auto &c : cases) {
    const byteblend::tool::TopLayer top(c.top);
    for (const byteblend::LayerMode mode : byteblend::all_layer_modes) {
      for (const byteblend::Operator blend_operator :
           {byteblend::Operator::atop, byteblend::Operator::over}) {
        byteblend::tool::Image laid = *c.bottom;
        byteblend::tool::blend_onto(mode, top, laid, c.at,
                                    {c.opacity, blend_operator}, 1);
        const Offset at = c.at.value_or(Offset{});
        const byteblend::tool::Image expected =
            testing_support::expected_laying(
                c.top, *c.bottom,
                {mode.code(),
                 blend_operator == byteblend::Operator::over ? 1 : 0,
                 byteblend::opacity_byte(c.opacity), at.x, at.y});
        const std::string what =
            std::string(c.what) + ", " + std::string(byteblend::name(mode)) +
            (blend_operator == byteblend::Operator::over ? ", over" : ", atop");
        EXPECT_EQ(laid.rgb, expected.rgb) << what;
        EXPECT_EQ(laid.alpha, expected.alpha) << what;
      }
    }
  }
}

// Over onto a BOTTOM with alpha packs the overlap into RGBA band by band:
// an overlap of more than one band, on any thread count, is still the
// reference in every row.
TEST(BlendOnto, OverOntoAlphaIsTheReferenceAcrossBands) {
  constexpr std::uint32_t kWidth = 4096;
  constexpr std::uint32_t kHeight = 1100; // a band is 1024 rows this wide
  const byteblend::tool::Image top_image = random_rgba(kWidth, kHeight, 10);
  const byteblend::tool::Image bottom = random_rgba(kWidth + 3, kHeight, 11);
  const byteblend::tool::TopLayer top(top_image);
  const byteblend::tool::Image expected = testing_support::expected_laying(
      top_image, bottom, {layers_reference::kNormal, 1, 200, 3, 0});
  for (const unsigned threads : {1U, 0U}) {
    byteblend::tool::Image laid = bottom;
    byteblend::tool::blend_onto(
        byteblend::LayerMode::normal, top, laid, Offset{3, 0},
        {200 / 255.0, byteblend::Operator::over}, threads);
    EXPECT_TRUE(laid.rgb == expected.rgb) << threads << " threads";
    EXPECT_TRUE(laid.alpha == expected.alpha) << threads << " threads";
  }
}

TEST(ProgressText, ShowsCountRateAndTimeLeft) {
  const std::pair<std::string, std::string> cases[] = {
      {byteblend::tool::progress_text(0, 20, 0.0),
       "[..............................]  0/20"},
      {byteblend::tool::progress_text(5, 20, 2.0),
       "[#######.......................]  5/20  2.5 files/s  0:06 left"},
      {byteblend::tool::progress_text(20, 20, 4.0),
       "[##############################]  20/20  5.0 files/s  0:00 left"},
      {byteblend::tool::progress_text(1, 1000, 1.0),
       "[..............................]  1/1000  1.0 files/s  16:39 left"},
  };
  for (const auto &[text, expected] : cases) {
    EXPECT_EQ(text, expected);
  }
}

TEST(ProgressText, FitsTheTerminalsWidth) {
  using byteblend::tool::progress_text;
  const std::pair<std::string, std::string> cases[] = {
      // Wide enough: the whole bar.
      {progress_text(5, 20, 2.0, 200),
       "[#######.......................]  5/20  2.5 files/s  0:06 left"},
      // A shorter bar keeps the rate and the time left...
      {progress_text(5, 20, 2.0, 50),
       "[####.............]  5/20  2.5 files/s  0:06 left"},
      // ...then the rate and time left go, then the bar.
      {progress_text(5, 20, 2.0, 20), "[##.........]  5/20"},
      {progress_text(5, 20, 2.0, 12), "5/20"},
      {progress_text(5, 20, 2.0, 4), "5/2"},
      {progress_text(5, 20, 2.0, 0), ""},
  };
  for (const auto &[text, expected] : cases) {
    EXPECT_EQ(text, expected);
  }
}

TEST(Printable, EscapesControlCharactersOnly) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain name.png", "plain name.png"},
      {"caf\xC3\xA9.png", "caf\xC3\xA9.png"}, // UTF-8 stays
      {"a\nb\tc\rd", R"(a\x0ab\x09c\x0dd)"},
      {"\x1B[2J", "\\x1b[2J"},
      {"del\x7F", "del\\x7f"},
      {"csi\xC2\x9B"
       "31m",
       "csi\\xc2\\x9b31m"},             // C1 in UTF-8
      {"\xC2\xA0nbsp", "\xC2\xA0nbsp"}, // not a control
      {"end\xC2", "end\xC2"},
  };
  for (const auto &[text, expected] : cases) {
    EXPECT_EQ(byteblend::tool::printable(text), expected) << text;
  }
}

TEST(ParseWholeNumber, OneRuleForSigns) {
  using byteblend::tool::parse_whole_number;
  const std::pair<const char *, std::optional<int>> cases[] = {
      {"50", 50},
      {"+50", 50},
      {"-50", -50},
      {"+-5", std::nullopt},
      {"--5", std::nullopt},
      {"+", std::nullopt},
      {"", std::nullopt},
      {"5x", std::nullopt},
      {" 5", std::nullopt},
      {"2147483648", std::nullopt},
  };
  for (const auto &[text, expected] : cases) {
    EXPECT_EQ(parse_whole_number<int>(text), expected) << text;
  }
}

// The umask of the process, read without changing it.
unsigned current_umask() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Umask:", 0) == 0) {
      return static_cast<unsigned>(std::stoul(line.substr(6), nullptr, 8));
    }
  }
  return 07777; // no such line: the kernel is too old to say
}

TEST(WriteFile, NewFilesFromManyThreadsTakeTheUmaskAndLeaveIt) {
  namespace fs = std::filesystem;
  std::string name =
      (fs::temp_directory_path() / "byteblend-parts-XXXXXX").string();
  ASSERT_NE(mkdtemp(name.data()), nullptr);
  const fs::path folder = name;
  const mode_t previous = umask(027);
  constexpr int kThreads = 4;
  constexpr int kFiles = 250;
  const std::vector<std::uint8_t> bytes = {'b', 'y', 't', 'e', 's'};
  std::atomic<int> running{kThreads};
  std::vector<std::thread> writers;
  writers.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&, t] {
      for (int i = 0; i < kFiles; ++i) {
        byteblend::tool::write_file(
            folder / (std::to_string(t) + "-" + std::to_string(i)), bytes);
      }
      --running;
    });
  }
  // Meanwhile, the process's umask must stay as it was set.
  std::vector<unsigned> seen;
  while (running > 0) {
    if (const unsigned mask = current_umask(); mask != 027 && mask != 07777) {
      seen.push_back(mask);
    }
  }
  for (std::thread &writer : writers) {
    writer.join();
  }
  EXPECT_EQ(umask(previous), 027U);
  EXPECT_EQ(seen, std::vector<unsigned>{});
  int files = 0;
  for (const auto &entry : fs::directory_iterator(folder)) {
    ++files;
    EXPECT_EQ(entry.status().permissions(), fs::perms(0640)) << entry.path();
  }
  EXPECT_EQ(files, kThreads * kFiles);
  fs::remove_all(folder);
}

} // namespace
