// SPDX-License-Identifier: MIT
// What the tool must make of TOP laid onto BOTTOM through the layers
// library, pixel by pixel, from the layers' own integer reference
// (tests/layers/layers_reference.hpp): TOP's pixel (x - X, y - Y) laid onto
// BOTTOM's (x, y) where it exists, BOTTOM's own pixel elsewhere; the result
// has BOTTOM's channels.
#ifndef BYTEBLEND_TESTS_LAYERED_EXPECTATION_HPP
#define BYTEBLEND_TESTS_LAYERED_EXPECTATION_HPP

#include <cstdint>
#include <vector>

#include "image.hpp"
#include "layers_reference.hpp"

namespace testing_support {

struct Laying {
  int mode;           // 0 to 12 in the order of byteblend::Mode, 13 normal
  int blend_operator; // 0 atop, 1 over
  std::uint8_t opacity;
  long x = 0, y = 0; // where TOP's top-left corner lies on BOTTOM
};

inline byteblend::tool::Image
expected_laying(const byteblend::tool::Image &top,
                const byteblend::tool::Image &bottom, const Laying &laying) {
  const std::vector<std::uint8_t> table =
      layers_reference::mode_table(laying.mode);
  const int channel = layers_reference::channel_of_mode(laying.mode);
  byteblend::tool::Image result = bottom;
  for (long y = 0; y < static_cast<long>(bottom.height); ++y) {
    for (long x = 0; x < static_cast<long>(bottom.width); ++x) {
      const long tx = x - laying.x;
      const long ty = y - laying.y;
      if (tx < 0 || ty < 0 || tx >= static_cast<long>(top.width) ||
          ty >= static_cast<long>(top.height)) {
        continue;
      }
      const auto i = static_cast<std::size_t>(y * bottom.width + x);
      const auto j = static_cast<std::size_t>(ty * top.width + tx);
      const unsigned top_alpha = top.alpha.empty() ? 255 : top.alpha[j];
      const unsigned bottom_alpha =
          bottom.alpha.empty() ? 255 : bottom.alpha[i];
      for (int c = 0; c < 3; ++c) {
        const unsigned t = top.rgb[j * 3 + c];
        const unsigned b = bottom.rgb[i * 3 + c];
        const unsigned r = channel < 0 || channel == c ? table[t * 256 + b] : b;
        result.rgb[i * 3 + c] = layers_reference::composited_colour(
            laying.blend_operator, t, top_alpha, b, bottom_alpha, r,
            laying.opacity);
      }
      if (!bottom.alpha.empty()) {
        result.alpha[i] = layers_reference::composited_alpha(
            laying.blend_operator, top_alpha, bottom_alpha, laying.opacity);
      }
    }
  }
  return result;
}

} // namespace testing_support

#endif
