// SPDX-License-Identifier: MIT
// Compositing one pixel at a time, in exact integer arithmetic: the route
// of every layout and operator that has no vector route yet, and the tail
// of those that have one.
#ifndef BYTEBLEND_LAYERS_COMPOSITE_SCALAR_HPP
#define BYTEBLEND_LAYERS_COMPOSITE_SCALAR_HPP

#include <cstddef>
#include <cstdint>

#include "../lanes/scalar.hpp"
#include "modes.hpp"

namespace byteblend::BYTEBLEND_TARGET_NAMESPACE {

enum class Operator { atop = 0, over = 1 };

// The mode's byte for channel c of a pixel: outside a channel mode's own
// channel, the bottom's.
template <class M>
std::int32_t mode_value(int c, std::int32_t t, std::int32_t b) {
  if constexpr (M::kChannel >= 0) {
    if (c != M::kChannel) {
      return b;
    }
  }
  return M::Formula::template apply<ScalarLanes>(t, b);
}

// Pixels [begin, end). Each pixel is read whole before it is written, so
// `result` may be `bottom`, or `top` where the layouts match.
template <class M>
void composite_pixels_one_by_one(Operator op, std::ptrdiff_t begin,
                                 std::ptrdiff_t end, const std::uint8_t *top,
                                 int top_channels, const std::uint8_t *bottom,
                                 int bottom_channels, std::uint8_t *result,
                                 unsigned opacity) {
  for (std::ptrdiff_t p = begin; p < end; ++p) {
    const std::uint8_t *tp = top + p * top_channels;
    const std::uint8_t *bp = bottom + p * bottom_channels;
    const std::uint32_t top_alpha = top_channels == 4 ? tp[3] : 255;
    const std::uint32_t bottom_alpha = bottom_channels == 4 ? bp[3] : 255;
    const std::uint32_t weight = top_alpha * opacity; // P, 0..65025
    std::uint8_t out[4] = {0, 0, 0, static_cast<std::uint8_t>(bottom_alpha)};
    if (op == Operator::atop || bottom_alpha == 255) {
      // Over onto an opaque pixel is atop.
      for (int c = 0; c < 3; ++c) {
        const auto r =
            static_cast<std::uint32_t>(mode_value<M>(c, tp[c], bp[c]));
        const std::uint32_t n = weight * r + (65025 - weight) * bp[c];
        out[c] = static_cast<std::uint8_t>((2 * n + 65025) / 130050);
      }
    } else {
      const std::uint64_t y = 255 * std::uint64_t{weight} +
                              bottom_alpha * std::uint64_t{65025 - weight};
      if (y != 0) {
        for (int c = 0; c < 3; ++c) {
          const auto r =
              static_cast<std::uint64_t>(mode_value<M>(c, tp[c], bp[c]));
          const std::uint64_t x =
              std::uint64_t{weight} * (255 - bottom_alpha) * tp[c] +
              std::uint64_t{weight} * bottom_alpha * r +
              std::uint64_t{65025 - weight} * bottom_alpha * bp[c];
          out[c] = static_cast<std::uint8_t>((2 * x + y) / (2 * y));
        }
      }
      out[3] = static_cast<std::uint8_t>((2 * y + 65025) / 130050);
    }
    std::uint8_t *rp = result + p * bottom_channels;
    for (int c = 0; c < bottom_channels; ++c) {
      rp[c] = out[c];
    }
  }
}

} // namespace byteblend::BYTEBLEND_TARGET_NAMESPACE

#endif
