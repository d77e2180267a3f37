// SPDX-License-Identifier: MIT
#include "lane_kit_values.hpp"

#include <array>
#include <bit>
#include <cstdint>

#include "lanes/for_target.hpp"

namespace byteblend::BYTEBLEND_TARGET_NAMESPACE {

// The lanes, over every byte x in every lane of both operands, where
// on_normalized_floats gives anything but x / 255, correctly rounded, times
// the kit's scale.
int normalized_float_mismatches() {
  using L = TargetLanes;
  int mismatches = 0;
  for (int x = 0; x < 256; ++x) {
    const float expected = static_cast<float>(x) / 255.0F * L::kNormalizedScale;
    const auto count = [&mismatches, expected](auto values) {
      constexpr std::size_t kLanes = sizeof(values) / sizeof(float);
      for (const float value :
           std::bit_cast<std::array<float, kLanes>>(values)) {
        mismatches += value != expected ? 1 : 0;
      }
    };
    const auto every_lane = typename L::Bytes{} + static_cast<std::uint8_t>(x);
    L::on_normalized_floats(every_lane, every_lane, [&count](auto t, auto b) {
      count(t);
      count(b);
      return L::truncate(t - t);
    });
  }
  return mismatches;
}

} // namespace byteblend::BYTEBLEND_TARGET_NAMESPACE
