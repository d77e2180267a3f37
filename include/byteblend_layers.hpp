// SPDX-License-Identifier: MIT
// byteblend layers for C++20: the modes, and `normal`, applied with an
// opacity and through the layers' alpha, on flat arrays and on image views,
// by libbyteblend_layers.so.1 (byteblend_layers.h gives the formulas).
// Header-only, on top of byteblend.hpp and byteblend_image.hpp: link both
// libraries (CMake: byteblend::byteblend and byteblend::layers, from
// find_package(byteblend COMPONENTS layers)). Programs that include only the
// other two headers need no layers library.
//
//   byteblend::composite(byteblend::LayerMode::normal, logo, corner, corner,
//                        {.opacity = 0.7});
#ifndef BYTEBLEND_LAYERS_HPP
#define BYTEBLEND_LAYERS_HPP

// As in byteblend.hpp: one clear error for a compiler before C++20.
#if __cplusplus < 202002L
#error "byteblend_layers.hpp needs C++20 (compile with -std=c++20 or later)"
#else

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "byteblend.hpp"
#include "byteblend_image.hpp"
#include "byteblend_layers.h"

namespace byteblend {

namespace detail {

// Whether the layers library numbers the modes as Mode does (the order of
// mode_table), with normal after them.
constexpr bool layer_codes_follow_the_enum() {
  constexpr std::array codes = {
      BYTEBLEND_MODE_ADDITION,       BYTEBLEND_MODE_SUBTRACTION,
      BYTEBLEND_MODE_MULTIPLICATION, BYTEBLEND_MODE_SCREEN,
      BYTEBLEND_MODE_RED_CHANNEL,    BYTEBLEND_MODE_GREEN_CHANNEL,
      BYTEBLEND_MODE_BLUE_CHANNEL,   BYTEBLEND_MODE_OPACITY,
      BYTEBLEND_MODE_OVERLAY,        BYTEBLEND_MODE_LIGHTEN,
      BYTEBLEND_MODE_DARKEN,         BYTEBLEND_MODE_COLOR_DODGE,
      BYTEBLEND_MODE_COLOR_BURN};
  if (codes.size() != mode_table.size() ||
      BYTEBLEND_MODE_NORMAL != static_cast<int>(mode_table.size())) {
    return false;
  }
  for (std::size_t i = 0; i < codes.size(); ++i) {
    if (static_cast<int>(codes[i]) != static_cast<int>(mode_table[i].mode)) {
      return false;
    }
  }
  return true;
}
static_assert(layer_codes_follow_the_enum(),
              "byteblend_layers.h must number the modes as Mode does");

} // namespace detail

// A mode of the layers: any Mode (it converts without a cast), or normal,
// whose blend is the top itself. Mode stays the thirteen modes of the plain
// kernels, so all_modes and mode_table are unchanged.
class LayerMode {
public:
  // cppcheck-suppress noExplicitConstructor
  // NOLINTNEXTLINE(google-explicit-constructor): every Mode is a layer mode
  constexpr LayerMode(Mode mode) : code_(static_cast<int>(mode)) {}

  // r = t: the top itself, mixed in by the opacity and the alphas.
  static const LayerMode normal;

  // The plain kernels' mode; none for normal.
  [[nodiscard]] constexpr std::optional<Mode> mode() const {
    if (code_ < 0 || code_ >= BYTEBLEND_MODE_NORMAL) {
      return std::nullopt;
    }
    return static_cast<Mode>(code_);
  }
  // Its number in byteblend_layers.h (enum byteblend_mode).
  [[nodiscard]] constexpr int code() const { return code_; }

  friend constexpr bool operator==(LayerMode, LayerMode) = default;

private:
  struct Normal {};
  explicit constexpr LayerMode(Normal /*unused*/)
      : code_(BYTEBLEND_MODE_NORMAL) {}

  int code_;
};

inline constexpr LayerMode LayerMode::normal{LayerMode::Normal{}};

// Every layer mode: those of all_modes, then normal.
inline constexpr std::array<LayerMode, all_modes.size() + 1> all_layer_modes =
    []<std::size_t... I>(std::index_sequence<I...> /*unused*/) {
  return std::array<LayerMode, sizeof...(I) + 1>{LayerMode(all_modes[I])...,
                                                 LayerMode::normal};
}
(std::make_index_sequence<all_modes.size()>{});

// The mode's name: name(Mode) for the thirteen, "normal" for normal.
constexpr std::string_view name(LayerMode mode) {
  if (mode == LayerMode::normal) {
    return "normal";
  }
  const std::optional<Mode> plain = mode.mode();
  return plain ? name(*plain) : "unknown";
}

// The fewest bytes a thread is given in a layers call: those of the mode's
// plain kernel (smallest_piece()), since a layers call does at least the
// kernel's work for each byte; normal, which blends nothing, is taken to be
// bound by memory, as the cheapest kernels are. The layers library's own
// rates have not been measured for this.
constexpr std::size_t smallest_layer_piece(LayerMode mode) {
  const std::optional<Mode> plain = mode.mode();
  return plain ? smallest_piece(*plain) : streaming_piece;
}

// A composite whose top has alpha costs far more than the flat mix where
// the alphas vary (the divisions by 65025 for atop, by each pixel's own
// coverage for over: 2.3 and 6 times the plain kernel's time) and little
// more where they are uniform, as in logos and cut-outs (1.0 to 1.4 times).
// Two threads won from 1 MB on with random alphas but lost (0.6 to 0.9
// times one thread's speed) below 2 MB with logo-like ones, and from 4 MB
// on both won (1.05 to 1.9 times; 1920 pixels wide, multiplication, one
// call against two pieces on the pool, medians of 100 interleaved calls,
// on the machine of split_costs). So its pieces are at least this, not the
// 4 MiB of a memory-bound mode's flat mix: a 1080p RGBA composite splits.
inline constexpr std::size_t composite_with_alpha_piece = std::size_t{2} << 20;

// The fewest bytes (of the wider pixels) a thread is given in composite():
// smallest_layer_piece(mode) for an opaque top, which is the flat mix;
// for a top with alpha composite_with_alpha_piece where that is smaller.
constexpr std::size_t smallest_composite_piece(LayerMode mode,
                                               std::size_t top_channels) {
  const std::size_t flat = smallest_layer_piece(mode);
  return top_channels == 4 ? std::min(flat, composite_with_alpha_piece) : flat;
}

namespace detail {

// The checked numbers of the C calls; throw std::invalid_argument for a
// value that names no mode or operator.
inline int layer_code(LayerMode mode, const char *who) {
  if (mode.code() < 0 || mode.code() > BYTEBLEND_MODE_NORMAL) {
    throw std::invalid_argument(std::string(who) + ": not a mode");
  }
  return mode.code();
}
inline int operator_code(Operator blend_operator, const char *who) {
  switch (blend_operator) {
  case Operator::atop:
    return BYTEBLEND_OPERATOR_ATOP;
  case Operator::over:
    return BYTEBLEND_OPERATOR_OVER;
  }
  throw std::invalid_argument(std::string(who) + ": not an operator");
}

// The library refuses only what the checks before the first call refused
// already.
inline void check_layers_call(int status, const char *who) {
  if (status != 0) {
    throw std::logic_error(std::string(who) +
                           ": the layers library refused "
                           "a call (error " +
                           std::to_string(status) + ")");
  }
}

} // namespace detail

// Blends top onto bottom into result byte by byte, as blend() does, with
// options.opacity: each byte is round((a r + (255 - a) b) / 255) for the
// opacity byte a (opacity_byte()) and the mode's byte r (normal: the top's).
// A channel mode writes only its channel of each packed RGB pixel. With
// opacity 1 the bytes are blend()'s. Chunks and threads as for blend(), by
// smallest_layer_piece(mode); arrays have no alpha, so the operator makes no
// difference. Throws std::invalid_argument, before touching any byte, where
// blend() would (sizes, overlaps, chunk), for an opacity outside [0, 1] or
// NaN, and for a value that names no mode.
inline void blend_with_opacity(LayerMode mode,
                               std::span<const std::uint8_t> top,
                               std::span<const std::uint8_t> bottom,
                               std::span<std::uint8_t> result,
                               const Options &options = {}) {
  constexpr const char *who = "byteblend::blend_with_opacity";
  detail::check_arrays(who, top, bottom, result, options.chunk);
  const std::uint8_t opacity = opacity_byte(options.opacity);
  const int code = detail::layer_code(mode, who);
  detail::blend_in_chunks(
      top.size(), options.chunk,
      detail::threads_for_piece(smallest_layer_piece(mode), top.size(),
                                options.threads),
      [&](std::size_t offset, std::size_t length) {
        detail::check_layers_call(
            byteblend_blend_with_opacity(
                code, static_cast<std::int32_t>(length), top.data() + offset,
                bottom.data() + offset, result.data() + offset, opacity),
            who);
      });
}

// Composites top onto bottom into result, pixel by pixel, as
// byteblend_composite() does: the mode's colour (normal: the top's) mixed
// in by options.opacity and the top's alpha, by options.blend_operator
// (atop: result's alpha is bottom's; over: source-over). top has 3 channels
// (RGB, opaque) or 4 (RGBA); bottom and result have 3 or 4, the same; all
// three have the same width and height, and may be rectangles of larger
// images or views in the general form. Every byte of result's pixels is
// written. result may be bottom itself, or top itself where top has as many
// channels (the same pixels and steps), and must not otherwise share a
// pixel's byte with them. Rows are split across up to options.threads
// threads by blend()'s rule, over the bytes of the wider pixels and
// smallest_composite_piece(); the bytes are the same for every count. Each
// library call takes at most options.chunk / 3 pixels. Throws
// std::invalid_argument, before writing anything, when the sizes differ,
// for other channels, when result shares bytes with top or bottom otherwise
// than as that very view, for a chunk that blend() refuses, an opacity
// outside [0, 1] or NaN, and values that name no mode or operator.
inline void composite(LayerMode mode, ImageView top, ImageView bottom,
                      MutableImageView result, const Options &options = {}) {
  constexpr const char *who = "byteblend::composite";
  const std::uint8_t opacity = opacity_byte(options.opacity);
  const int code = detail::layer_code(mode, who);
  const int blend_operator = detail::operator_code(options.blend_operator, who);
  detail::check_chunk(who, options.chunk);
  for (const auto &[label, view] :
       {std::pair{"top", top}, std::pair{"bottom", bottom},
        std::pair{"result", ImageView{result}}}) {
    if (view.channels() != 3 && view.channels() != 4) {
      throw std::invalid_argument(std::string(who) + ": " + label + " has " +
                                  std::to_string(view.channels()) +
                                  " channels; a composite takes 3 (RGB) or "
                                  "4 (RGBA)");
    }
  }
  for (const auto &[label, other] :
       {std::pair{"bottom", bottom}, std::pair{"result", ImageView{result}}}) {
    if (other.width() != top.width() || other.height() != top.height() ||
        (label == std::string_view("result") &&
         other.channels() != bottom.channels())) {
      throw std::invalid_argument(
          std::string(who) + ": sizes differ: top is " +
          detail::describe(top.width(), top.height(), top.channels()) +
          ", bottom is " +
          detail::describe(bottom.width(), bottom.height(), bottom.channels()) +
          ", result is " +
          detail::describe(result.width(), result.height(), result.channels()));
    }
  }
  if (detail::overlaps_partly(result, top) ||
      detail::overlaps_partly(result, bottom)) {
    throw std::invalid_argument(std::string(who) +
                                ": result shares bytes with top or bottom "
                                "without being that view");
  }
  const std::size_t top_channels = top.channels();
  const std::size_t bottom_channels = bottom.channels();
  const std::size_t most = options.chunk / 3;
  const std::size_t bytes =
      top.width() * top.height() * std::max(top_channels, bottom_channels);
  detail::walk_pixel_runs(
      detail::threads_for_piece(smallest_composite_piece(mode, top_channels),
                                bytes, options.threads),
      top, bottom, result,
      [=](const std::uint8_t *t, const std::uint8_t *b, std::uint8_t *r,
          std::size_t pixels) {
        for (std::size_t first = 0; first < pixels; first += most) {
          const std::size_t count = std::min(most, pixels - first);
          detail::check_layers_call(
              byteblend_composite(
                  code, blend_operator, static_cast<std::int32_t>(count),
                  t + first * top_channels, static_cast<int>(top_channels),
                  b + first * bottom_channels,
                  static_cast<int>(bottom_channels),
                  r + first * bottom_channels, opacity),
              who);
        }
      });
}

} // namespace byteblend

#endif // C++20
#endif
