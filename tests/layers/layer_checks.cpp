// SPDX-License-Identifier: MIT
#include "layer_checks.hpp"

#include <gtest/gtest.h>

#include <array>

#include "layers_reference.hpp"

namespace layers_testing {
namespace {

constexpr std::uint8_t kMarker = 0xA5;
constexpr std::int64_t kPairs = 65536;
constexpr std::int64_t kReported = 5;

} // namespace

std::int64_t flat_mismatches(const LayerRoute &route, int mode,
                             const std::vector<std::uint8_t> &table,
                             std::uint8_t opacity) {
  const int channel = layers_reference::channel_of_mode(mode);
  const std::int64_t start = channel < 0 ? 0 : channel;
  const std::int64_t stride = channel < 0 ? 1 : 3;
  const std::int64_t length = start + kPairs * stride;
  std::vector<std::uint8_t> top(length, kMarker);
  std::vector<std::uint8_t> bottom(length, kMarker);
  std::vector<std::uint8_t> result(length + 64, kMarker);
  for (std::int64_t k = 0; k < kPairs; ++k) {
    top[start + k * stride] = static_cast<std::uint8_t>(k >> 8);
    bottom[start + k * stride] = static_cast<std::uint8_t>(k);
  }
  EXPECT_EQ(route.blend_with_opacity(mode, static_cast<std::int32_t>(length),
                                     top.data(), bottom.data(), result.data(),
                                     opacity),
            0);
  std::int64_t mismatches = 0;
  for (std::int64_t i = 0; i < static_cast<std::int64_t>(result.size()); ++i) {
    const bool visited = i < length && i >= start && (i - start) % stride == 0;
    const std::uint8_t expected =
        visited ? layers_reference::mixed(table[top[i] * 256 + bottom[i]],
                                          bottom[i], opacity)
                : kMarker;
    if (result[i] != expected && ++mismatches <= kReported) {
      ADD_FAILURE() << "via " << route.via << ", mode "
                    << layers_reference::kModeNames[mode] << ", opacity "
                    << int{opacity} << ": t " << int{top[i]} << ", b "
                    << int{bottom[i]} << " at index " << i << " gave "
                    << int{result[i]} << ", expected " << int{expected};
    }
  }
  return mismatches;
}

std::int64_t composite_mismatches(const LayerRoute &route, int mode,
                                  int blend_operator, Layout layout,
                                  const std::vector<std::uint8_t> &table,
                                  std::uint8_t top_alpha,
                                  std::uint8_t bottom_alpha,
                                  std::uint8_t opacity) {
  const int tc = layout.top_channels;
  const int bc = layout.bottom_channels;
  std::vector<std::uint8_t> top(kPairs * tc, top_alpha);
  std::vector<std::uint8_t> bottom(kPairs * bc, bottom_alpha);
  std::vector<std::uint8_t> result(kPairs * bc + 64, kMarker);
  for (std::int64_t k = 0; k < kPairs; ++k) {
    for (int c = 0; c < 3; ++c) {
      top[k * tc + c] = static_cast<std::uint8_t>(k >> 8);
      bottom[k * bc + c] = static_cast<std::uint8_t>(k);
    }
  }
  EXPECT_EQ(route.composite(mode, blend_operator,
                            static_cast<std::int32_t>(kPairs), top.data(), tc,
                            bottom.data(), bc, result.data(), opacity),
            0);
  const int channel = layers_reference::channel_of_mode(mode);
  const std::uint8_t top_alpha_used = tc == 4 ? top_alpha : 255;
  const std::uint8_t bottom_alpha_used = bc == 4 ? bottom_alpha : 255;
  const std::uint8_t alpha = layers_reference::composited_alpha(
      blend_operator, top_alpha_used, bottom_alpha_used, opacity);
  std::int64_t mismatches = 0;
  for (std::int64_t k = 0; k < kPairs; ++k) {
    const auto t = static_cast<std::uint8_t>(k >> 8);
    const auto b = static_cast<std::uint8_t>(k);
    // The pixel's three channels hold the same t and b, so a channel's byte
    // depends only on whether the mode changes that channel: two values.
    const std::uint8_t changed = layers_reference::composited_colour(
        blend_operator, t, top_alpha_used, b, bottom_alpha_used,
        table[t * 256 + b], opacity);
    const std::uint8_t kept = channel < 0
                                  ? changed
                                  : layers_reference::composited_colour(
                                        blend_operator, t, top_alpha_used, b,
                                        bottom_alpha_used, b, opacity);
    std::array<std::uint8_t, 4> expected{};
    for (int c = 0; c < 3; ++c) {
      expected[c] = channel < 0 || channel == c ? changed : kept;
    }
    expected[3] = alpha;
    for (int c = 0; c < bc; ++c) {
      const std::uint8_t got = result[k * bc + c];
      if (got != expected[c] && ++mismatches <= kReported) {
        ADD_FAILURE() << "via " << route.via << ", mode "
                      << layers_reference::kModeNames[mode] << ", "
                      << (blend_operator == 0 ? "atop" : "over") << ", " << tc
                      << " onto " << bc << " channels, At " << int{top_alpha}
                      << ", Ab " << int{bottom_alpha} << ", opacity "
                      << int{opacity} << ": t " << int{t} << ", b " << int{b}
                      << ", channel " << c << " gave " << int{got}
                      << ", expected " << int{expected[c]};
      }
    }
  }
  for (std::size_t i = kPairs * bc; i < result.size(); ++i) {
    if (result[i] != kMarker && ++mismatches <= kReported) {
      ADD_FAILURE() << "via " << route.via << ": byte " << i
                    << " past the last pixel changed";
    }
  }
  return mismatches;
}

} // namespace layers_testing
