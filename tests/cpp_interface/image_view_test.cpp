// SPDX-License-Identifier: MIT
// Image views: blend() over views with padded rows, inside larger images,
// in place and on RGBA, against the flat blend() on packed copies of each
// row; the checks of sizes, strides and rectangles; threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "byteblend_image.hpp"

namespace {

using byteblend::ImageView;
using byteblend::Mode;
using byteblend::MutableImageView;

static_assert(std::is_convertible_v<MutableImageView, ImageView>);
static_assert(!std::is_convertible_v<ImageView, MutableImageView>);

// A whole image of random bytes, padding included.
struct Canvas {
  std::size_t width;
  std::size_t height;
  std::size_t channels;
  std::size_t stride;
  std::vector<std::uint8_t> bytes;

  Canvas(std::size_t w, std::size_t h, std::size_t c, std::size_t padding,
         unsigned seed)
      : width(w), height(h), channels(c), stride(w * c + padding),
        bytes(stride * h) {
    std::mt19937 engine(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    for (auto &b : bytes) {
      b = static_cast<std::uint8_t>(byte(engine));
    }
  }

  [[nodiscard]] MutableImageView view() {
    return {bytes.data(), width, height, channels, stride};
  }
};

// Where on a canvas the blended rectangle lies.
struct Layout {
  const char *name;
  std::size_t width, height, channels, padding;
  std::size_t x, y, region_width, region_height;
};

void PrintTo(const Layout &layout, std::ostream *out) { *out << layout.name; }

enum class Aliasing { none, result_is_bottom, result_is_top };

// The rectangle of `bytes` (laid out as `canvas`) that the layout blends,
// row by row as packed pixels of `keep` channels.
std::vector<std::uint8_t> packed_row(const Layout &layout,
                                     const std::vector<std::uint8_t> &bytes,
                                     std::size_t stride, std::size_t row,
                                     std::size_t keep) {
  std::vector<std::uint8_t> packed;
  for (std::size_t x = 0; x < layout.region_width; ++x) {
    const std::size_t at =
        (layout.y + row) * stride + (layout.x + x) * layout.channels;
    for (std::size_t c = 0; c < keep; ++c) {
      packed.push_back(bytes[at + c]);
    }
  }
  return packed;
}

// What result's canvas holds after the blend: each row of the rectangle
// blended by the flat blend() as packed grey or RGB, alpha from bottom, and
// every other byte as it was.
std::vector<std::uint8_t> expected_canvas(Mode mode, const Layout &layout,
                                          const Canvas &top,
                                          const Canvas &bottom,
                                          const Canvas &result) {
  std::vector<std::uint8_t> out = result.bytes;
  const std::size_t colour = layout.channels == 4 ? 3 : layout.channels;
  for (std::size_t row = 0; row < layout.region_height; ++row) {
    const auto t = packed_row(layout, top.bytes, top.stride, row, colour);
    const auto b = packed_row(layout, bottom.bytes, bottom.stride, row, colour);
    auto r = packed_row(layout, result.bytes, result.stride, row, colour);
    byteblend::blend(mode, t, b, r);
    for (std::size_t x = 0; x < layout.region_width; ++x) {
      const std::size_t at =
          (layout.y + row) * result.stride + (layout.x + x) * layout.channels;
      for (std::size_t c = 0; c < colour; ++c) {
        out[at + c] = r[x * colour + c];
      }
      if (layout.channels == 4) {
        out[at + 3] = bottom.bytes[at + 3];
      }
    }
  }
  return out;
}

class ViewBlend : public testing::TestWithParam<std::tuple<Layout, Aliasing>> {
};

TEST_P(ViewBlend, EqualsTheFlatBlendOfEachRow) {
  const Layout &layout = std::get<0>(GetParam());
  const Aliasing aliasing = std::get<1>(GetParam());
  for (const Mode mode : byteblend::all_modes) {
    if (layout.channels == 1 && is_channel_mode(mode)) {
      continue;
    }
    const auto canvas = [&](unsigned seed) {
      return Canvas(layout.width, layout.height, layout.channels,
                    layout.padding, seed);
    };
    Canvas top = canvas(1);
    Canvas bottom = canvas(2);
    Canvas separate = canvas(3);
    Canvas &result = aliasing == Aliasing::result_is_bottom ? bottom
                     : aliasing == Aliasing::result_is_top  ? top
                                                            : separate;
    const std::vector<std::uint8_t> expected =
        expected_canvas(mode, layout, top, bottom, result);
    const Canvas top_before = top;
    const Canvas bottom_before = bottom;

    const auto region = [&](Canvas &c) {
      return MutableImageView(c.view(), layout.x, layout.y, layout.region_width,
                              layout.region_height);
    };
    byteblend::blend(mode, region(top), region(bottom), region(result));

    EXPECT_EQ(result.bytes, expected) << byteblend::name(mode);
    if (&result != &top) {
      EXPECT_EQ(top.bytes, top_before.bytes) << byteblend::name(mode);
    }
    if (&result != &bottom) {
      EXPECT_EQ(bottom.bytes, bottom_before.bytes) << byteblend::name(mode);
    }
  }
}

constexpr Layout kLayouts[] = {
    {"PackedGrey", 37, 5, 1, 0, 0, 0, 37, 5},
    {"PackedRgb", 37, 5, 3, 0, 0, 0, 37, 5},
    {"PackedRgba", 37, 5, 4, 0, 0, 0, 37, 5},
    {"PaddedGrey", 37, 5, 1, 3, 0, 0, 37, 5},
    {"PaddedRgb", 37, 5, 3, 7, 0, 0, 37, 5},
    {"PaddedRgba", 37, 5, 4, 5, 0, 0, 37, 5},
    {"RegionGrey", 40, 9, 1, 0, 1, 1, 17, 3},
    {"RegionRgb", 40, 9, 3, 0, 3, 2, 31, 6},
    {"RegionRgba", 40, 9, 4, 3, 5, 1, 30, 7},
    {"LastRowOfRegionRgba", 50, 4, 4, 0, 2, 3, 40, 1},
    {"ColumnRgb", 20, 6, 3, 0, 19, 0, 1, 6},
    // Longer than the RGBA pieces: a row over several, and a packed image
    // whose pieces cross rows.
    {"LongPaddedRowsRgba", 2100, 3, 4, 4, 0, 0, 2100, 3},
    {"LongPackedRgba", 1500, 3, 4, 0, 0, 0, 1500, 3},
    {"LongRegionRgb", 1500, 3, 3, 0, 1, 1, 1499, 2},
    {"EmptyWidth", 10, 4, 3, 0, 10, 0, 0, 4},
    {"EmptyHeight", 10, 4, 4, 0, 0, 4, 10, 0},
};

std::string
case_name(const testing::TestParamInfo<ViewBlend::ParamType> &info) {
  const std::array<const char *, 3> aliasing = {"", "ResultIsBottom",
                                                "ResultIsTop"};
  return std::string(std::get<0>(info.param).name) +
         aliasing.at(static_cast<std::size_t>(std::get<1>(info.param)));
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, ViewBlend,
    testing::Combine(testing::ValuesIn(kLayouts),
                     testing::Values(Aliasing::none, Aliasing::result_is_bottom,
                                     Aliasing::result_is_top)),
    case_name);

// Known values on RGBA: the mode on red, green and blue, alpha from bottom,
// and a channel mode's other channels left as result held them.
TEST(ViewBlend, RgbaKnownValues) {
  constexpr std::uint8_t kMarker = 0xA5;
  struct Case {
    Mode mode;
    std::array<std::uint8_t, 8> expected;
  };
  const std::array<std::uint8_t, 8> top = {50, 17, 85, 200, 0, 255, 1, 2};
  const std::array<std::uint8_t, 8> bottom = {10, 63, 0, 77, 9, 8, 7, 6};
  for (const Case &c :
       {Case{Mode::addition, {60, 80, 85, 77, 9, 255, 8, 6}},
        Case{Mode::lighten, {50, 63, 85, 77, 9, 255, 7, 6}},
        Case{Mode::red_channel,
             {160, kMarker, kMarker, 77, 9, kMarker, kMarker, 6}},
        Case{Mode::green_channel,
             {kMarker, 114, kMarker, 77, kMarker, 255, kMarker, 6}},
        Case{Mode::blue_channel,
             {kMarker, kMarker, 255, 77, kMarker, kMarker, 10, 6}}}) {
    std::array<std::uint8_t, 8> result{};
    result.fill(kMarker);
    byteblend::blend(c.mode, ImageView(top.data(), 2, 1, 4),
                     ImageView(bottom.data(), 2, 1, 4),
                     MutableImageView(result.data(), 2, 1, 4));
    EXPECT_EQ(result, c.expected) << byteblend::name(c.mode);
  }
}

TEST(ViewBlend, SameBytesOnEveryThreadCount) {
  struct Case {
    std::size_t channels, padding;
  };
  // Large enough to be split across threads (byteblend::threaded_from):
  // dodge even with one channel, the memory-bound modes with three.
  constexpr std::size_t kWidth = 2400;
  constexpr std::size_t kHeight = 1800;
  static_assert(kWidth * kHeight >=
                byteblend::threaded_from(Mode::color_dodge));
  static_assert(kWidth * kHeight * 3 >= byteblend::threaded_from(Mode::screen));
  for (const Case c : {Case{4, 12}, Case{3, 0}, Case{1, 1}}) {
    const Layout layout = {"", kWidth, kHeight, c.channels, c.padding,
                           0,  0,      kWidth,  kHeight};
    Canvas top(kWidth, kHeight, c.channels, c.padding, 4);
    Canvas bottom(kWidth, kHeight, c.channels, c.padding, 5);
    for (const Mode mode :
         {Mode::screen, Mode::green_channel, Mode::color_dodge}) {
      if (c.channels == 1 && is_channel_mode(mode)) {
        continue;
      }
      const Canvas before(kWidth, kHeight, c.channels, c.padding, 6);
      const auto expected = expected_canvas(mode, layout, top, bottom, before);
      for (const unsigned threads : {1U, 2U, 3U, 0U}) {
        Canvas result = before;
        byteblend::blend(mode, top.view(), bottom.view(), result.view(),
                         {.threads = threads});
        EXPECT_EQ(result.bytes, expected)
            << byteblend::name(mode) << ", " << c.channels << " channels, "
            << threads << " threads";
      }
    }
  }
}

// Views in the general form, with their bytes anywhere in a buffer: each
// view blends as its packed copy does, on any thread count, and leaves every
// byte outside result's pixels as it was. The buffers are large enough for
// dodge to be split across threads.
TEST(ViewBlend, StepsOfAnySignAndSizeBlendAsPackedCopies) {
  constexpr std::size_t kWidth = 360;
  constexpr std::size_t kHeight = 280;
  static_assert(kWidth * kHeight * 3 >=
                byteblend::threaded_from(Mode::color_dodge));
  // A buffer holds a kWidth x kHeight image of 4-byte cells, 8 bytes of
  // padding a row; a layout picks the image's pixels out of it.
  constexpr std::ptrdiff_t kCell = 4;
  constexpr std::ptrdiff_t kRow = kCell * kWidth + 8;
  struct Case {
    const char *what;
    std::size_t channels;
    std::ptrdiff_t first; // the offset of the first pixel's first byte
    byteblend::ImageSteps steps;
  };
  const Case cases[] = {
      {"pixels in 4-byte cells", 3, 0, {kRow, kCell, 1}},
      {"rows upward", 3, (kHeight - 1) * kRow, {-kRow, kCell, 1}},
      {"pixels leftward", 3, (kWidth - 1) * kCell, {kRow, -kCell, 1}},
      {"channels reversed", 3, 2, {kRow, kCell, -1}},
      {"transposed", 3, 0, {kCell, kRow, 1}},
      {"grey, every other byte", 1, 1, {kRow, 2, 1}},
      {"RGBA leftward and upward",
       4,
       (kHeight - 1) * kRow + (kWidth - 1) * kCell,
       {-kRow, -kCell, 1}},
      {"RGBA channels reversed", 4, 3, {kRow, kCell, -1}},
  };
  for (const Case &c : cases) {
    // Transposed, the view is kHeight wide.
    const bool transposed = c.steps.pixel == kRow;
    const std::size_t width = transposed ? kHeight : kWidth;
    const std::size_t height = transposed ? kWidth : kHeight;
    const auto view = [&](Canvas &canvas) {
      return MutableImageView(canvas.bytes.data() + c.first, width, height,
                              c.channels, c.steps);
    };
    // The bytes of a view, row by row, pixel by pixel, channel by channel.
    const auto packed = [&](Canvas &canvas) {
      std::vector<std::uint8_t> bytes;
      const MutableImageView v = view(canvas);
      for (std::size_t y = 0; y < height; ++y) {
        for (std::size_t x = 0; x < width; ++x) {
          for (std::size_t k = 0; k < c.channels; ++k) {
            bytes.push_back(
                *(v.data() + static_cast<std::ptrdiff_t>(y) * c.steps.row +
                  static_cast<std::ptrdiff_t>(x) * c.steps.pixel +
                  static_cast<std::ptrdiff_t>(k) * c.steps.channel));
          }
        }
      }
      return bytes;
    };
    for (const Mode mode :
         {Mode::color_dodge, Mode::screen, Mode::red_channel}) {
      if (c.channels == 1 && is_channel_mode(mode)) {
        continue;
      }
      Canvas top(kRow, kHeight, 1, 0, 7);
      Canvas bottom(kRow, kHeight, 1, 0, 8);
      const Canvas before(kRow, kHeight, 1, 0, 9);
      Canvas expected = before;
      // The packed blend, written back through the view.
      std::vector<std::uint8_t> result_bytes = packed(expected);
      const auto top_bytes = packed(top);
      const auto bottom_bytes = packed(bottom);
      byteblend::blend(
          mode, ImageView(top_bytes.data(), width, height, c.channels),
          ImageView(bottom_bytes.data(), width, height, c.channels),
          MutableImageView(result_bytes.data(), width, height, c.channels));
      const MutableImageView target = view(expected);
      std::size_t i = 0;
      for (std::size_t y = 0; y < height; ++y) {
        for (std::size_t x = 0; x < width; ++x) {
          for (std::size_t k = 0; k < c.channels; ++k) {
            *(target.data() + static_cast<std::ptrdiff_t>(y) * c.steps.row +
              static_cast<std::ptrdiff_t>(x) * c.steps.pixel +
              static_cast<std::ptrdiff_t>(k) * c.steps.channel) =
                result_bytes[i++];
          }
        }
      }
      for (const unsigned threads : {1U, 2U}) {
        Canvas result = before;
        byteblend::blend(mode, view(top), view(bottom), view(result),
                         {.threads = threads});
        EXPECT_EQ(result.bytes, expected.bytes)
            << c.what << ", " << byteblend::name(mode) << ", " << threads
            << " threads";
      }
    }
  }
}

// The general form: the bytes reached must fit in memory; a view may be
// blended into itself with any steps, and views whose byte ranges meet are
// refused unless they are the very same.
TEST(ImageViews, GeneralFormsAreCheckedAndSharingIsRefused) {
  std::vector<std::uint8_t> bytes(64, 0x42);
  constexpr auto kLargest = std::numeric_limits<std::ptrdiff_t>::max();
  using Steps = byteblend::ImageSteps;
  EXPECT_THROW(MutableImageView(bytes.data(), 2, 2, 3, Steps{kLargest, 3, 1}),
               std::invalid_argument);
  EXPECT_THROW(MutableImageView(bytes.data(), 3, 1, 3, Steps{0, -kLargest, 1}),
               std::invalid_argument);
  EXPECT_THROW(MutableImageView(nullptr, 1, 1, 3, Steps{0, 0, 1}),
               std::invalid_argument);
  EXPECT_THROW(MutableImageView(bytes.data(), 1, 1, 0, Steps{0, 0, 1}),
               std::invalid_argument);
  // Any other number of channels is a view, for blend_rows(), but no image
  // that blend() takes.
  const MutableImageView two(bytes.data(), 4, 2, 2, Steps{8, 2, 1});
  EXPECT_THROW(byteblend::blend(Mode::screen, two, two, two),
               std::invalid_argument);
  EXPECT_NO_THROW(MutableImageView(nullptr, 0, 4, 3, Steps{-1, -1, -1}));
  // A row is one span only when its bytes are one run.
  EXPECT_THROW(
      (void)MutableImageView(bytes.data(), 2, 2, 3, Steps{12, 6, 1}).row(0),
      std::logic_error);

  const MutableImageView leftward(bytes.data() + 9, 4, 2, 3, Steps{16, -3, 1});
  const MutableImageView even(bytes.data(), 4, 2, 3, Steps{32, 6, 1});
  const MutableImageView odd(bytes.data() + 3, 4, 2, 3, Steps{32, 6, 1});
  const MutableImageView apart(bytes.data() + 40, 4, 2, 3, Steps{12, 3, 1});
  struct Case {
    const char *what;
    MutableImageView top, result;
    bool throws;
  };
  for (const Case &c : {
           Case{"leftward into itself", leftward, leftward, false},
           Case{"every other pixel into itself", even, even, false},
           Case{"interleaved pixels", even, odd, true},
           Case{"ranges that meet", even, leftward, true},
           Case{"apart", leftward, apart, false},
       }) {
    if (c.throws) {
      EXPECT_THROW(byteblend::blend(Mode::screen, c.top, c.top, c.result),
                   std::invalid_argument)
          << c.what;
    } else {
      EXPECT_NO_THROW(byteblend::blend(Mode::screen, c.top, c.top, c.result))
          << c.what;
    }
  }
}

TEST(ViewBlend, ShapesThatDifferThrowNamingBoth) {
  struct Case {
    std::size_t top_width, top_channels, other_width, other_channels;
    bool result_differs;
  };
  std::vector<std::uint8_t> bytes(std::size_t{64} * 4 * 3);
  for (const Case c : {Case{4, 3, 5, 3, false}, Case{5, 3, 4, 3, true},
                       Case{4, 3, 4, 4, false}, Case{4, 4, 4, 1, true}}) {
    const ImageView top(bytes.data(), c.top_width, 3, c.top_channels);
    const MutableImageView other(bytes.data(), c.other_width, 3,
                                 c.other_channels);
    const MutableImageView same(bytes.data(), c.top_width, 3, c.top_channels);
    try {
      byteblend::blend(Mode::screen, top, c.result_differs ? same : other,
                       c.result_differs ? other : same);
      ADD_FAILURE() << "no exception";
    } catch (const std::invalid_argument &error) {
      const std::string message = error.what();
      const auto size = [](std::size_t width, std::size_t channels) {
        return std::to_string(width) + "x3x" + std::to_string(channels);
      };
      EXPECT_NE(message.find(size(c.top_width, c.top_channels)),
                std::string::npos)
          << message;
      EXPECT_NE(message.find(size(c.other_width, c.other_channels)),
                std::string::npos)
          << message;
    }
  }
}

TEST(ViewBlend, ChannelModesRefuseGreyAndBadChunksAreRefused) {
  std::vector<std::uint8_t> bytes(12, 0x11);
  const MutableImageView grey(bytes.data(), 4, 3, 1);
  for (const Mode mode :
       {Mode::red_channel, Mode::green_channel, Mode::blue_channel}) {
    EXPECT_THROW(byteblend::blend(mode, grey, grey, grey),
                 std::invalid_argument);
  }
  const MutableImageView empty(bytes.data(), 0, 0, 3);
  EXPECT_THROW(
      byteblend::blend(Mode::screen, empty, empty, empty, {.chunk = 4}),
      std::invalid_argument);
  EXPECT_EQ(bytes, std::vector<std::uint8_t>(12, 0x11));
}

TEST(ImageViews, RowsSkipThePaddingAndRegionsStartAtTheirCorner) {
  std::vector<std::uint8_t> bytes(std::size_t{10} * 6);
  const MutableImageView whole(bytes.data(), 3, 6, 3, 10);
  EXPECT_FALSE(whole.contiguous());
  EXPECT_EQ(whole.row(2).data(), bytes.data() + 20);
  EXPECT_EQ(whole.row(2).size(), 9U);
  EXPECT_THROW((void)whole.row(6), std::out_of_range);

  const ImageView region(whole, 1, 2, 2, 3);
  EXPECT_EQ(region.data(), &bytes[(2 * 10) + 3]);
  EXPECT_EQ(region.stride(), 10U);
  EXPECT_EQ(region.channels(), 3U);
  EXPECT_EQ(region.row(2).data(), &bytes[(4 * 10) + 3]);
  EXPECT_EQ(region.row(2).size(), 6U);

  const ImageView last_row(whole, 0, 5, 3, 1);
  EXPECT_TRUE(last_row.contiguous());
  EXPECT_TRUE(ImageView(bytes.data(), 20, 3, 1).contiguous());
}

TEST(ImageViews, RectanglesOutsideTheirImageThrow) {
  std::vector<std::uint8_t> bytes(std::size_t{8} * 5 * 4);
  const MutableImageView whole(bytes.data(), 8, 5, 4);
  constexpr std::size_t kHuge = std::numeric_limits<std::size_t>::max();
  struct Case {
    std::size_t x, y, width, height;
  };
  for (const Case c :
       {Case{1, 0, 8, 5}, Case{0, 1, 8, 5}, Case{9, 0, 0, 0}, Case{0, 6, 0, 0},
        Case{kHuge, 0, 2, 1}, Case{2, 0, kHuge, 1}, Case{0, 2, 1, kHuge}}) {
    EXPECT_THROW(MutableImageView(whole, c.x, c.y, c.width, c.height),
                 std::out_of_range)
        << c.x << ", " << c.y << ", " << c.width << ", " << c.height;
  }
  for (const Case c : {Case{0, 0, 8, 5}, Case{7, 4, 1, 1}, Case{8, 5, 0, 0},
                       Case{8, 0, 0, 5}}) {
    EXPECT_NO_THROW(MutableImageView(whole, c.x, c.y, c.width, c.height))
        << c.x << ", " << c.y << ", " << c.width << ", " << c.height;
  }
}

TEST(ImageViews, ImpossibleShapesThrow) {
  std::uint8_t byte = 0;
  constexpr std::size_t kHuge = std::numeric_limits<std::size_t>::max();
  constexpr auto kLargest =
      static_cast<std::size_t>(std::numeric_limits<std::ptrdiff_t>::max());
  struct Case {
    const char *what;
    std::uint8_t *data;
    std::size_t width, height, channels, stride;
  };
  for (const Case &c : {
           Case{"no channels", &byte, 1, 1, 0, 1},
           Case{"2 channels", &byte, 1, 1, 2, 2},
           Case{"5 channels", &byte, 1, 1, 5, 5},
           Case{"stride short of a row", &byte, 4, 2, 3, 11},
           Case{"row overflows", &byte, kHuge / 2, 1, 3, kHuge},
           Case{"rows overflow", &byte, 1, kLargest / 8 + 2, 4, 8},
           Case{"one row too large", &byte, kLargest / 4 + 1, 1, 4, kHuge},
           Case{"no pixels", nullptr, 1, 1, 1, 1},
       }) {
    EXPECT_THROW(
        MutableImageView(c.data, c.width, c.height, c.channels, c.stride),
        std::invalid_argument)
        << c.what;
  }
  EXPECT_THROW(MutableImageView(&byte, kHuge / 2, 1, 4), std::invalid_argument);
  EXPECT_NO_THROW(MutableImageView(nullptr, 0, 0, 3));
  EXPECT_NO_THROW(MutableImageView(&byte, 1, kLargest / 8, 4, 8));
}

// Views 0 wide or 0 high are valid whatever their stride and pointer, as
// numpy's arrays of shape (0, W, 3) are, and blend nothing.
TEST(ImageViews, EmptyViewsAreValidAndBlendNothing) {
  std::vector<std::uint8_t> bytes(64, 0x42);
  struct Case {
    const char *what;
    std::uint8_t *data;
    std::size_t width, height, channels, stride;
  };
  for (const Case &c : {
           Case{"0 wide, 2 rows, packed", bytes.data(), 0, 2, 3, 0},
           Case{"0 wide, 5 rows of 12 bytes", bytes.data(), 0, 5, 3, 12},
           Case{"0 wide, no pixels", nullptr, 0, 3, 4, 16},
           Case{"0 high", bytes.data(), 4, 0, 3, 12},
           Case{"0 high, stride short of a row", bytes.data(), 4, 0, 3, 1},
           Case{"0 high, no pixels", nullptr, 7, 0, 4, 0},
           Case{"0 by 0", nullptr, 0, 0, 4, 0},
       }) {
    SCOPED_TRACE(c.what);
    const MutableImageView strided(c.data, c.width, c.height, c.channels,
                                   c.stride);
    const MutableImageView packed(c.data, c.width, c.height, c.channels);
    for (const MutableImageView &view : {strided, packed}) {
      EXPECT_EQ(view.width(), c.width);
      EXPECT_EQ(view.height(), c.height);
      for (std::size_t y = 0; y < view.height(); ++y) {
        EXPECT_TRUE(view.row(y).empty());
      }
      const ImageView read_only(c.data, c.width, c.height, c.channels);
      const MutableImageView corner(view, 0, 0, c.width, c.height);
      // No rows, below the last one.
      const ImageView below(read_only, 0, c.height, c.width, 0);
      const MutableImageView below_too(view, 0, c.height, c.width, 0);
      for (const Mode mode : {Mode::screen, Mode::blue_channel}) {
        EXPECT_NO_THROW(
            byteblend::blend(mode, read_only, view, corner, {.threads = 0}));
        EXPECT_NO_THROW(
            byteblend::blend(mode, below, below, below_too, {.threads = 0}));
      }
      // Still a shape like any other.
      const MutableImageView other(bytes.data(), c.width + 1, c.height + 1,
                                   c.channels);
      EXPECT_THROW(byteblend::blend(Mode::screen, read_only, other, view),
                   std::invalid_argument);
    }
  }
  EXPECT_EQ(bytes, std::vector<std::uint8_t>(64, 0x42));
}

// Three views into one buffer: result exactly top or bottom, or sharing no
// pixel byte with them, gives the bytes of a blend into a separate result;
// any other sharing throws before a byte is written.
TEST(ViewBlend, ResultSharingBytesWithAnInputThrowsBeforeWriting) {
  // 32 RGB pixels: rows of 96 bytes; offsets and strides in bytes.
  constexpr std::size_t kWidth = 32;
  constexpr std::size_t kHeight = 4;
  constexpr std::size_t kRow = 3 * kWidth;
  struct Place {
    std::size_t offset, stride;
  };
  struct Case {
    const char *what;
    Place top, bottom, result;
    bool throws;
  };
  const Case cases[] = {
      {"result is top", {0, 128}, {1024, 128}, {0, 128}, false},
      {"result is bottom", {0, 128}, {1024, 128}, {1024, 128}, false},
      {"all apart", {0, 128}, {1024, 128}, {2048, 128}, false},
      {"top is bottom", {0, 128}, {0, 128}, {2048, 100}, false},
      {"result in top's padding", {0, 256}, {1024, 128}, {128, 256}, false},
      {"result right beside top's rows",
       {0, 256},
       {1024, 128},
       {96, 256},
       false},
      {"result one row below top", {0, 128}, {1024, 128}, {128, 128}, true},
      {"result one row above top", {128, 128}, {1024, 128}, {0, 128}, true},
      {"result one byte after top", {0, 128}, {1024, 128}, {1, 128}, true},
      {"result's second row on top's", {0, 192}, {2048, 128}, {96, 144}, true},
      {"same first byte, other stride", {0, 128}, {1024, 128}, {0, 256}, true},
      {"result's last byte on top's first",
       {1024, 128},
       {2048, 128},
       {1024 - 3 * 128 - kRow + 1, 128},
       true},
      {"result is top, overlaps bottom", {0, 128}, {64, 128}, {0, 128}, true},
      {"result is bottom, overlaps top",
       {2100, 96},
       {2048, 128},
       {2048, 128},
       true},
  };
  for (const Case &c : cases) {
    for (const Mode mode : {Mode::screen, Mode::green_channel}) {
      SCOPED_TRACE(std::string(c.what) + ", " + std::string(name(mode)));
      Canvas buffer(4096, 1, 1, 0, 9);
      const auto view = [&](Place place) {
        return MutableImageView(buffer.bytes.data() + place.offset, kWidth,
                                kHeight, 3, place.stride);
      };
      // The same blend through packed copies of each view.
      const auto packed = [&](Place place) {
        std::vector<std::uint8_t> copy;
        for (std::size_t y = 0; y < kHeight; ++y) {
          const auto row = view(place).row(y);
          copy.insert(copy.end(), row.begin(), row.end());
        }
        return copy;
      };
      auto separate = packed(c.result);
      byteblend::blend(mode, packed(c.top), packed(c.bottom), separate);
      std::vector<std::uint8_t> expected = buffer.bytes;
      for (std::size_t y = 0; y < kHeight; ++y) {
        std::copy_n(
            separate.begin() + static_cast<std::ptrdiff_t>(y * kRow), kRow,
            expected.begin() + static_cast<std::ptrdiff_t>(
                                   c.result.offset + y * c.result.stride));
      }
      const std::vector<std::uint8_t> before = buffer.bytes;
      if (c.throws) {
        EXPECT_THROW(
            byteblend::blend(mode, view(c.top), view(c.bottom), view(c.result)),
            std::invalid_argument);
        EXPECT_EQ(buffer.bytes, before) << "written despite the overlap";
      } else {
        byteblend::blend(mode, view(c.top), view(c.bottom), view(c.result));
        EXPECT_EQ(buffer.bytes, expected);
      }
    }
  }
}

} // namespace
