// SPDX-License-Identifier: MIT
#include "lane_kit_values.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "lanes/for_target.hpp"

namespace byteblend::BYTEBLEND_TARGET_NAMESPACE {

// The lanes, over every byte x in every lane of both operands, where
// on_normalized_floats gives anything but x / 255, correctly rounded, times
// the kit's scale.
constexpr std::size_t kMostLanes = 16;

int normalized_float_mismatches() {
  using L = TargetLanes;
  int mismatches = 0;
  for (int x = 0; x < 256; ++x) {
    const float expected = static_cast<float>(x) / 255.0F * L::kNormalizedScale;
    // A float or a vector of them, one lane at a time.
    const auto count = [&mismatches, expected](auto values) {
      std::array<float, kMostLanes> lanes{};
      std::memcpy(lanes.data(), &values, sizeof values);
      for (std::size_t i = 0; i * sizeof(float) < sizeof values; ++i) {
        mismatches += lanes[i] != expected ? 1 : 0;
      }
    };
    const auto every_lane = typename L::Bytes{} + static_cast<std::uint8_t>(x);
    L::on_normalized_floats(every_lane, every_lane, [&count](auto t, auto b) {
      count(t);
      count(b);
      return L::truncate(decltype(t){}); // the bytes are not looked at
    });
  }
  return mismatches;
}

} // namespace byteblend::BYTEBLEND_TARGET_NAMESPACE
