// SPDX-License-Identifier: MIT
// The layers' results written out from their definition in plain 64-bit
// integers, independent of the library's routes: the mode's byte from the
// plain reference (tests/reference.hpp), then the opacity and the alphas.
#ifndef BYTEBLEND_TESTS_LAYERS_REFERENCE_HPP
#define BYTEBLEND_TESTS_LAYERS_REFERENCE_HPP

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "reference.hpp"

namespace layers_reference {

constexpr int kModes = 14;
constexpr int kNormal = 13;
constexpr const char *kModeNames[kModes] = {
    "addition", "subtraction", "multiplication", "screen",  "red",
    "green",    "blue",        "opacity",        "overlay", "lighten",
    "darken",   "dodge",       "burn",           "normal"};

// The channel a channel mode is limited to, else -1.
inline int channel_of_mode(int mode) {
  return mode >= 4 && mode <= 6 ? mode - 4 : -1;
}

// floor((2 n + d) / (2 d)): nearest, halves up.
inline std::uint64_t rounded_quotient(std::uint64_t n, std::uint64_t d) {
  return (2 * n + d) / (2 * d);
}

// r for every (t, b) of a mode, at index t * 256 + b.
inline std::vector<std::uint8_t> mode_table(int mode) {
  std::vector<std::uint8_t> table(65536);
  for (int t = 0; t < 256; ++t) {
    for (int b = 0; b < 256; ++b) {
      const std::int32_t r =
          mode == kNormal ? t : reference::kKernels[mode].formula(t, b);
      table[t * 256 + b] = static_cast<std::uint8_t>(r);
    }
  }
  return table;
}

// The byte-by-byte form: round((a r + (255 - a) b) / 255).
inline std::uint8_t mixed(std::uint64_t r, std::uint64_t b, std::uint64_t a) {
  return static_cast<std::uint8_t>(
      rounded_quotient(a * r + (255 - a) * b, 255));
}

struct Pixel {
  std::array<std::uint8_t, 4> bytes; // colour, then alpha where there is one
};

// One colour byte of a result pixel: t, b and the mode's byte r of one
// channel. over: 1, atop: 0.
inline std::uint8_t composited_colour(int blend_operator, std::uint64_t t,
                                      std::uint64_t top_alpha, std::uint64_t b,
                                      std::uint64_t bottom_alpha,
                                      std::uint64_t r, std::uint64_t a) {
  const std::uint64_t p = top_alpha * a;
  if (blend_operator == 0) {
    return static_cast<std::uint8_t>(
        rounded_quotient(p * r + (65025 - p) * b, 65025));
  }
  const std::uint64_t y = 255 * p + bottom_alpha * (65025 - p);
  if (y == 0) {
    return 0;
  }
  const std::uint64_t x = p * (255 - bottom_alpha) * t + p * bottom_alpha * r +
                          (65025 - p) * bottom_alpha * b;
  return static_cast<std::uint8_t>(rounded_quotient(x, y));
}

// The alpha of a result pixel.
inline std::uint8_t composited_alpha(int blend_operator,
                                     std::uint64_t top_alpha,
                                     std::uint64_t bottom_alpha,
                                     std::uint64_t a) {
  if (blend_operator == 0) {
    return static_cast<std::uint8_t>(bottom_alpha);
  }
  const std::uint64_t p = top_alpha * a;
  const std::uint64_t y = 255 * p + bottom_alpha * (65025 - p);
  return static_cast<std::uint8_t>(rounded_quotient(y, 65025));
}

// One result pixel; r holds the mode's byte for each colour channel (the
// bottom's byte outside a channel mode's own channel).
inline std::array<std::uint8_t, 4>
composited(int blend_operator, const std::array<std::uint8_t, 3> &t,
           std::uint64_t top_alpha, const std::array<std::uint8_t, 3> &b,
           std::uint64_t bottom_alpha, const std::array<std::uint8_t, 3> &r,
           std::uint64_t a) {
  std::array<std::uint8_t, 4> out{};
  for (int c = 0; c < 3; ++c) {
    out[c] = composited_colour(blend_operator, t[c], top_alpha, b[c],
                               bottom_alpha, r[c], a);
  }
  out[3] = composited_alpha(blend_operator, top_alpha, bottom_alpha, a);
  return out;
}

// What a composite of `pixels` packed pixels gives, bottom's channel count
// each: the pixels above one by one (an image without alpha has 255).
inline std::vector<std::uint8_t>
composited_pixels(int mode, int blend_operator, std::int64_t pixels,
                  const std::uint8_t *top, int top_channels,
                  const std::uint8_t *bottom, int bottom_channels,
                  std::uint8_t opacity) {
  const auto table = mode_table(mode);
  const int channel = channel_of_mode(mode);
  std::vector<std::uint8_t> result(static_cast<std::size_t>(pixels) *
                                   static_cast<std::size_t>(bottom_channels));
  for (std::int64_t p = 0; p < pixels; ++p) {
    const std::uint8_t *top_pixel = top + p * top_channels;
    const std::uint8_t *bottom_pixel = bottom + p * bottom_channels;
    std::array<std::uint8_t, 3> t{};
    std::array<std::uint8_t, 3> b{};
    std::array<std::uint8_t, 3> r{};
    for (int c = 0; c < 3; ++c) {
      t[c] = top_pixel[c];
      b[c] = bottom_pixel[c];
      r[c] = channel < 0 || channel == c ? table[t[c] * 256 + b[c]] : b[c];
    }
    const auto out =
        composited(blend_operator, t, top_channels == 4 ? top_pixel[3] : 255, b,
                   bottom_channels == 4 ? bottom_pixel[3] : 255, r, opacity);
    std::copy_n(out.begin(), bottom_channels,
                result.begin() + p * bottom_channels);
  }
  return result;
}

} // namespace layers_reference

#endif
