// SPDX-License-Identifier: MIT
// The comparisons that the layer tests share: one call of either function
// over all 65536 (t, b) pairs against the reference, reported as test
// failures (the first few) and counted.
#ifndef BYTEBLEND_TESTS_LAYER_CHECKS_HPP
#define BYTEBLEND_TESTS_LAYER_CHECKS_HPP

#include <cstdint>
#include <vector>

#include "layer_route_list.hpp"

namespace layers_testing {

// The byte-by-byte form of `mode` at `opacity`: pair k at the k-th visited
// index, unvisited bytes keep a marker. `table` is mode_table(mode).
std::int64_t flat_mismatches(const LayerRoute &route, int mode,
                             const std::vector<std::uint8_t> &table,
                             std::uint8_t opacity);

struct Layout {
  int top_channels;
  int bottom_channels;
};
inline constexpr Layout kLayouts[] = {{3, 3}, {3, 4}, {4, 3}, {4, 4}};

// A composite of 65536 pixels, pixel k holding t = k >> 8 and b = k & 255
// in each colour channel, every top alpha `top_alpha` and every bottom alpha
// `bottom_alpha` (where the layout has them). Nothing past the last pixel
// of `result` may change.
std::int64_t composite_mismatches(const LayerRoute &route, int mode,
                                  int blend_operator, Layout layout,
                                  const std::vector<std::uint8_t> &table,
                                  std::uint8_t top_alpha,
                                  std::uint8_t bottom_alpha,
                                  std::uint8_t opacity);

} // namespace layers_testing

#endif
