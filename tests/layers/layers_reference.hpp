// SPDX-License-Identifier: MIT
// The layers' results written out from their definition in plain 64-bit
// integers, independent of the library's routes: the mode's byte from the
// plain reference (tests/reference.hpp), then the opacity and the alphas.
#ifndef BYTEBLEND_TESTS_LAYERS_REFERENCE_HPP
#define BYTEBLEND_TESTS_LAYERS_REFERENCE_HPP

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

// One result pixel; r holds the mode's byte for each colour channel (the
// bottom's byte outside a channel mode's own channel). over: 1, atop: 0.
inline std::array<std::uint8_t, 4>
composited(int blend_operator, const std::array<std::uint8_t, 3> &t,
           std::uint64_t top_alpha, const std::array<std::uint8_t, 3> &b,
           std::uint64_t bottom_alpha, const std::array<std::uint8_t, 3> &r,
           std::uint64_t a) {
  const std::uint64_t p = top_alpha * a;
  std::array<std::uint8_t, 4> out{};
  if (blend_operator == 0) {
    for (int c = 0; c < 3; ++c) {
      out[c] = static_cast<std::uint8_t>(
          rounded_quotient(p * r[c] + (65025 - p) * b[c], 65025));
    }
    out[3] = static_cast<std::uint8_t>(bottom_alpha);
    return out;
  }
  const std::uint64_t y = 255 * p + bottom_alpha * (65025 - p);
  if (y == 0) {
    return out;
  }
  for (int c = 0; c < 3; ++c) {
    const std::uint64_t x = p * (255 - bottom_alpha) * t[c] +
                            p * bottom_alpha * r[c] +
                            (65025 - p) * bottom_alpha * b[c];
    out[c] = static_cast<std::uint8_t>(rounded_quotient(x, y));
  }
  out[3] = static_cast<std::uint8_t>(rounded_quotient(y, 65025));
  return out;
}

} // namespace layers_reference

#endif
