// SPDX-License-Identifier: MIT
// byteblend_layers.hpp against the integer reference of the layers
// (layers_reference.hpp): blend_with_opacity() on arrays, composite() on
// views of every channel pairing, both operators, rectangles and views in
// the general form, every thread count, and the checks made before a byte
// is written.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "byteblend_layers.hpp"
#include "layers_reference.hpp"
#include "random_bytes.hpp"

namespace {

using byteblend::ImageSteps;
using byteblend::ImageView;
using byteblend::LayerMode;
using byteblend::Mode;
using byteblend::MutableImageView;
using byteblend::Operator;
using Bytes = std::vector<std::uint8_t>;

using testing_support::random_bytes;

// The first index where two arrays differ (where the shorter ends, for
// sizes that differ); -1 where none does. Short to print for images.
std::ptrdiff_t first_difference(const Bytes &a, const Bytes &b) {
  const auto common = static_cast<std::ptrdiff_t>(std::min(a.size(), b.size()));
  const auto index =
      std::mismatch(a.begin(), a.begin() + common, b.begin()).first - a.begin();
  return index == common && a.size() == b.size() ? -1 : index;
}

// The reference's table of r for each layer mode, made once.
const Bytes &table_of(LayerMode mode) {
  static const auto tables = [] {
    std::array<Bytes, layers_reference::kModes> all;
    for (int m = 0; m < layers_reference::kModes; ++m) {
      all[static_cast<std::size_t>(m)] = layers_reference::mode_table(m);
    }
    return all;
  }();
  return tables.at(static_cast<std::size_t>(mode.code()));
}

TEST(LayerModes, AreTheModesThenNormalWithTheLibrarysNumbers) {
  ASSERT_EQ(byteblend::all_layer_modes.size(),
            std::size_t{layers_reference::kModes});
  for (std::size_t i = 0; i < byteblend::all_layer_modes.size(); ++i) {
    const LayerMode mode = byteblend::all_layer_modes[i];
    EXPECT_EQ(mode.code(), static_cast<int>(i));
    if (i < byteblend::all_modes.size()) {
      EXPECT_EQ(mode, LayerMode(byteblend::all_modes[i]));
      EXPECT_EQ(mode.mode(), byteblend::all_modes[i]);
      EXPECT_EQ(name(mode), name(byteblend::all_modes[i]));
    } else {
      EXPECT_EQ(mode, LayerMode::normal);
      EXPECT_FALSE(mode.mode().has_value());
      EXPECT_EQ(name(mode), "normal");
    }
  }
}

// The flat form, byte by byte: round((a r + (255 - a) b) / 255) where the
// mode blends, result's byte left as it was elsewhere (a channel mode's
// other two bytes of each pixel).
Bytes expected_flat(LayerMode mode, const Bytes &top, const Bytes &bottom,
                    Bytes result, std::uint8_t opacity) {
  const int channel = layers_reference::channel_of_mode(mode.code());
  for (std::size_t i = 0; i < top.size(); ++i) {
    if (channel < 0 || i % 3 == static_cast<std::size_t>(channel)) {
      result[i] = layers_reference::mixed(
          table_of(mode)[top[i] * 256U + bottom[i]], bottom[i], opacity);
    }
  }
  return result;
}

TEST(BlendWithOpacity, EveryModeAndOpacityMatchesTheReference) {
  constexpr std::size_t kLength = 1001; // not a whole number of pixels
  const Bytes top = random_bytes(kLength, 1);
  const Bytes bottom = random_bytes(kLength, 2);
  const Bytes before = random_bytes(kLength, 3);
  for (const LayerMode mode : byteblend::all_layer_modes) {
    for (const double opacity : {0.0, 0.3, 0.5, 0.7, 1.0}) {
      for (const std::size_t chunk :
           {byteblend::default_chunk, std::size_t{21}}) {
        SCOPED_TRACE(std::string(name(mode)) + ", opacity " +
                     std::to_string(opacity) + ", chunk " +
                     std::to_string(chunk));
        Bytes result = before;
        byteblend::blend_with_opacity(mode, top, bottom, result,
                                      {.chunk = chunk,
                                       .opacity = opacity,
                                       .blend_operator = Operator::over});
        EXPECT_EQ(result, expected_flat(mode, top, bottom, before,
                                        byteblend::opacity_byte(opacity)));
      }
    }
  }
}

// An image of random bytes, padding included, and the views of a
// rectangle of it.
struct Canvas {
  std::size_t width, height, channels, stride;
  Bytes bytes;
  Canvas(std::size_t w, std::size_t h, std::size_t c, std::size_t padding,
         unsigned seed)
      : width(w), height(h), channels(c), stride(w * c + padding),
        bytes(random_bytes(stride * h, seed)) {}
  [[nodiscard]] MutableImageView whole() {
    return {bytes.data(), width, height, channels, stride};
  }
};

// How the three views of a case lie in their canvases.
enum class Layout {
  whole,        // packed images, one run of rows
  rectangles,   // rectangles of padded canvases
  general_form, // top's pixels a byte apart more than packed, result's rows
                // upside down: both blended through packed copies
};

// Each view is the canvas's rectangle at (x, y) of the composite's size,
// in the form the layout says.
MutableImageView view_of(Canvas &canvas, Layout layout, std::size_t x,
                         std::size_t y, std::size_t width, std::size_t height,
                         bool is_top) {
  const MutableImageView rectangle(canvas.whole(), x, y, width, height);
  if (layout != Layout::general_form) {
    return rectangle;
  }
  const std::size_t c = canvas.channels;
  if (is_top) {
    // Every other pixel of a rectangle twice as wide.
    return {canvas.bytes.data() + y * canvas.stride + x * c, width, height, c,
            ImageSteps{static_cast<std::ptrdiff_t>(canvas.stride),
                       static_cast<std::ptrdiff_t>(2 * c), 1}};
  }
  return byteblend::detail::rows_reversed(rectangle);
}

// Composites through the reference, pixel by pixel, into result's canvas.
void composite_by_reference(LayerMode mode, Operator op, std::uint8_t opacity,
                            ImageView top, ImageView bottom,
                            MutableImageView result) {
  const int channel = layers_reference::channel_of_mode(mode.code());
  const ImageSteps ts = top.steps();
  const ImageSteps bs = bottom.steps();
  const ImageSteps rs = result.steps();
  for (std::size_t y = 0; y < top.height(); ++y) {
    for (std::size_t x = 0; x < top.width(); ++x) {
      const auto at = [x, y](auto *data, ImageSteps s, std::size_t c) {
        return data + static_cast<std::ptrdiff_t>(y) * s.row +
               static_cast<std::ptrdiff_t>(x) * s.pixel +
               static_cast<std::ptrdiff_t>(c) * s.channel;
      };
      std::array<std::uint8_t, 3> t{};
      std::array<std::uint8_t, 3> b{};
      std::array<std::uint8_t, 3> r{};
      for (std::size_t c = 0; c < 3; ++c) {
        t[c] = *at(top.data(), ts, c);
        b[c] = *at(bottom.data(), bs, c);
        r[c] = channel < 0 || c == static_cast<std::size_t>(channel)
                   ? table_of(mode)[t[c] * 256U + b[c]]
                   : b[c];
      }
      const std::uint64_t top_alpha =
          top.channels() == 4 ? *at(top.data(), ts, 3) : 255;
      const std::uint64_t bottom_alpha =
          bottom.channels() == 4 ? *at(bottom.data(), bs, 3) : 255;
      const auto out =
          layers_reference::composited(op == Operator::over ? 1 : 0, t,
                                       top_alpha, b, bottom_alpha, r, opacity);
      for (std::size_t c = 0; c < result.channels(); ++c) {
        *at(result.data(), rs, c) = out[c];
      }
    }
  }
}

struct CompositeCase {
  std::size_t top_channels, bottom_channels;
  Layout layout;
};

std::vector<CompositeCase> every_pairing_and_layout() {
  std::vector<CompositeCase> cases;
  for (const std::size_t top : {3, 4}) {
    for (const std::size_t bottom : {3, 4}) {
      for (const Layout layout :
           {Layout::whole, Layout::rectangles, Layout::general_form}) {
        cases.push_back({top, bottom, layout});
      }
    }
  }
  return cases;
}

// Every mode, operator, channel pairing and layout, into a separate result
// and in place on bottom: the rectangle's bytes are the reference's and
// every other byte of the canvases stays as it was.
TEST(Composite, EveryPairingOperatorAndLayoutMatchesTheReference) {
  constexpr std::size_t kWidth = 9;
  constexpr std::size_t kHeight = 5;
  for (const CompositeCase c : every_pairing_and_layout()) {
    const bool whole = c.layout == Layout::whole;
    const std::size_t canvas_width = whole ? kWidth : 2 * kWidth + 3;
    const std::size_t canvas_height = whole ? kHeight : kHeight + 3;
    const std::size_t padding = whole ? 0 : 5;
    const std::size_t x = whole ? 0 : 2;
    const std::size_t y = whole ? 0 : 1;
    for (const LayerMode mode : byteblend::all_layer_modes) {
      for (const Operator op : {Operator::atop, Operator::over}) {
        for (const bool in_place : {false, true}) {
          SCOPED_TRACE(std::string(name(mode)) + ", " +
                       std::to_string(c.top_channels) + " onto " +
                       std::to_string(c.bottom_channels) + " channels, " +
                       (op == Operator::over ? "over" : "atop") + ", layout " +
                       std::to_string(static_cast<int>(c.layout)) +
                       (in_place ? ", in place" : ""));
          Canvas top(canvas_width, canvas_height, c.top_channels, padding, 1);
          Canvas bottom(canvas_width, canvas_height, c.bottom_channels, padding,
                        2);
          Canvas result(canvas_width, canvas_height, c.bottom_channels, padding,
                        3);
          Canvas &into = in_place ? bottom : result;
          const auto at = [&](Canvas &canvas, bool is_top) {
            return view_of(canvas, c.layout, x, y, kWidth, kHeight, is_top);
          };
          Canvas expected = into;
          Canvas bottom_before = bottom;
          composite_by_reference(mode, op, 179, at(top, true),
                                 at(bottom_before, false), at(expected, false));
          const MutableImageView bottom_view = at(bottom, false);
          byteblend::composite(mode, at(top, true), bottom_view,
                               in_place ? bottom_view : at(result, false),
                               {.opacity = 0.7, .blend_operator = op});
          EXPECT_EQ(first_difference(into.bytes, expected.bytes), -1);
        }
      }
    }
  }
}

// Images large enough for the rule to split them across two threads (the
// composite's bytes are those of the wider pixels), in a chunk that cuts
// the runs: the bytes of 1, 2 and every usable core are the reference's.
TEST(Composite, SameBytesOnEveryThreadCount) {
  struct Case {
    LayerMode mode;
    std::size_t width, height, top_channels, bottom_channels, padding;
    std::size_t chunk;
  };
  const Case cases[] = {
      {Mode::color_dodge, 320, 256, 4, 3, 0, byteblend::default_chunk},
      {Mode::color_burn, 256, 320, 3, 4, 8, 3000},
      {LayerMode::normal, 2048, 1024, 4, 4, 0, 15000},
  };
  for (const Case &c : cases) {
    const std::size_t bytes =
        c.width * c.height * std::max(c.top_channels, c.bottom_channels);
    ASSERT_GE(bytes, 2 * byteblend::smallest_layer_piece(c.mode));
    Canvas top(c.width, c.height, c.top_channels, c.padding, 4);
    Canvas bottom(c.width, c.height, c.bottom_channels, c.padding, 5);
    const Canvas before(c.width, c.height, c.bottom_channels, c.padding, 6);
    for (const Operator op : {Operator::atop, Operator::over}) {
      Canvas expected = before;
      composite_by_reference(c.mode, op, 77, top.whole(), bottom.whole(),
                             expected.whole());
      for (const unsigned threads : {1U, 2U, 0U}) {
        SCOPED_TRACE(std::string(name(c.mode)) + ", " +
                     std::to_string(threads) + " threads");
        Canvas result = before;
        byteblend::composite(c.mode, top.whole(), bottom.whole(),
                             result.whole(),
                             {.threads = threads,
                              .chunk = c.chunk,
                              .opacity = 0.3,
                              .blend_operator = op});
        EXPECT_EQ(first_difference(result.bytes, expected.bytes), -1);
      }
    }
  }
  // The flat form too, on an array the rule splits.
  const std::size_t length =
      2 * byteblend::smallest_layer_piece(Mode::color_dodge) + 7;
  const Bytes top = random_bytes(length, 7);
  const Bytes bottom = random_bytes(length, 8);
  const Bytes expected =
      expected_flat(Mode::color_dodge, top, bottom, Bytes(length), 128);
  for (const unsigned threads : {1U, 2U, 0U}) {
    Bytes result(length);
    byteblend::blend_with_opacity(Mode::color_dodge, top, bottom, result,
                                  {.threads = threads, .opacity = 0.5});
    EXPECT_EQ(first_difference(result, expected), -1) << threads << " threads";
  }
}

// Each call throws std::invalid_argument and leaves every byte of the
// buffer, which holds all the views, as it was.
// How many threads a composite of `bytes` (of the wider pixels) asks of
// every core: with a top that has alpha, a 1080p RGBA composite splits
// where the flat mix of a memory-bound mode does not; the modes that split
// earlier still do.
TEST(Composite, ATopWithAlphaSplitsFromSmallerImages) {
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  constexpr std::size_t k1080p = std::size_t{1920} * 1080 * 4;
  struct Case {
    LayerMode mode;
    std::size_t top_channels, bytes;
    unsigned threads; // before the cores
  };
  for (const Case c : {
           Case{Mode::multiplication, 4, k1080p, 3},
           Case{LayerMode::normal, 4, k1080p, 3},
           Case{Mode::multiplication, 3, k1080p, 1},
           Case{LayerMode::normal, 3, k1080p, 1},
           Case{Mode::screen, 4, 4 * kMiB, 2},
           Case{Mode::screen, 4, 4 * kMiB - 1, 1},
           Case{Mode::color_dodge, 4, kMiB, 7},
           Case{Mode::color_dodge, 3, kMiB, 7},
       }) {
    EXPECT_EQ(byteblend::detail::threads_for_piece(
                  byteblend::smallest_composite_piece(c.mode, c.top_channels),
                  c.bytes, 0),
              std::min(c.threads, byteblend::usable_cores()))
        << name(c.mode) << ", " << c.top_channels << " channels on top, "
        << c.bytes << " bytes";
  }
}

TEST(Composite, BadArgumentsThrowBeforeAnyByteIsWritten) {
  constexpr std::size_t kWidth = 8;
  constexpr std::size_t kHeight = 4;
  Bytes buffer = random_bytes(4096, 9);
  std::uint8_t *const base = buffer.data();
  const auto sized = [&](std::size_t offset, std::size_t channels,
                         std::size_t width, std::size_t height) {
    return MutableImageView(base + offset, width, height, channels);
  };
  const auto view = [&](std::size_t offset, std::size_t channels) {
    return sized(offset, channels, kWidth, kHeight);
  };
  // top at 0, bottom at 1024, result at 2048 unless a case says otherwise.
  const auto composite = [&](ImageView top, ImageView bottom,
                             MutableImageView result,
                             byteblend::Options options = {},
                             LayerMode mode = Mode::screen) {
    return [=] { byteblend::composite(mode, top, bottom, result, options); };
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char *what;
    std::function<void()> call;
  };
  const Case cases[] = {
      {"bottom narrower",
       composite(view(0, 4), sized(1024, 3, kWidth - 1, kHeight), view(2048, 3))},
      {"result shorter",
       composite(view(0, 4), view(1024, 3), sized(2048, 3, kWidth, 3))},
      {"result's channels not bottom's",
       composite(view(0, 4), view(1024, 3), view(2048, 4))},
      {"grey top", composite(view(0, 1), view(1024, 3), view(2048, 3))},
      {"grey bottom and result",
       composite(view(0, 3), view(1024, 1), view(2048, 1))},
      {"two-channel bottom",
       composite(view(0, 3),
                 MutableImageView(base + 1024, kWidth, kHeight, 2,
                                  ImageSteps{2 * kWidth, 2, 1}),
                 view(2048, 3))},
      {"result one byte into top",
       composite(view(0, 3), view(1024, 3), view(1, 3))},
      {"result is top with other channels",
       composite(view(0, 4), view(1024, 3), view(0, 3))},
      {"result's narrower rows in the tail of top's",
       composite(MutableImageView(base, kWidth, kHeight, 4, 64), view(1024, 3),
                 MutableImageView(base + 3 * kWidth, kWidth, kHeight, 3, 64))},
      {"result a row into bottom",
       composite(view(0, 4), view(1024, 4), view(1024 + 4 * kWidth, 4))},
      {"opacity NaN",
       composite(view(0, 4), view(1024, 3), view(2048, 3), {.opacity = nan})},
      {"opacity above 1",
       composite(view(0, 4), view(1024, 3), view(2048, 3), {.opacity = 1.01})},
      {"opacity below 0",
       composite(view(0, 4), view(1024, 3), view(2048, 3), {.opacity = -0.1})},
      {"no operator",
       composite(view(0, 4), view(1024, 3), view(2048, 3),
                 {.blend_operator = static_cast<Operator>(2)})},
      {"no mode", composite(view(0, 4), view(1024, 3), view(2048, 3), {},
                            static_cast<Mode>(14))},
      {"chunk not a multiple of 3",
       composite(view(0, 4), view(1024, 3), view(2048, 3), {.chunk = 4})},
      {"flat: sizes differ",
       [&] {
         byteblend::blend_with_opacity(Mode::screen, {base, 10},
                                       {base + 1024, 11}, {base + 2048, 10},
                                       {.opacity = 0.5});
       }},
      {"flat: result one byte into bottom",
       [&] {
         byteblend::blend_with_opacity(Mode::screen, {base, 10},
                                       {base + 1024, 10}, {base + 1025, 10},
                                       {.opacity = 0.5});
       }},
      {"flat: opacity NaN",
       [&] {
         byteblend::blend_with_opacity(Mode::screen, {base, 10},
                                       {base + 1024, 10}, {base + 2048, 10},
                                       {.opacity = nan});
       }},
      {"flat: no mode",
       [&] {
         byteblend::blend_with_opacity(static_cast<Mode>(-1), {base, 10},
                                       {base + 1024, 10}, {base + 2048, 10});
       }},
  };
  for (const Case &c : cases) {
    // A copy: the calls would write into buffer through the views' pointers.
    // NOLINTNEXTLINE(performance-unnecessary-copy-initialization)
    const Bytes before = buffer;
    EXPECT_THROW(c.call(), std::invalid_argument) << c.what;
    EXPECT_TRUE(buffer == before) << c.what << ": written before the throw";
  }
}

} // namespace
