// SPDX-License-Identifier: MIT
// Atop at every opacity and every top alpha, with every difference
// d = t - b of the normal mode in each colour channel, on every route. The
// vector routes mix in 16-bit lanes from a weight scaled by a factor of
// the opacity: a wrong weight shows only at some (opacity, top alpha, d),
// which the grids of the other tests would mostly miss; so would a weight
// that does not fit its lane, which only an opaque top pixel among others
// at opacity 255 has.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "layer_route_list.hpp"
#include "layers_reference.hpp"

namespace {

using layers_testing::LayerRoute;

constexpr int kDifferences = 511; // d = -255..255
constexpr std::size_t kBytes = std::size_t{kDifferences} * 4;

// Pixel k has d = k - 255 in every colour channel, each channel with its
// own bottom value (all that d allows, in turn); bottom alpha 128.
struct Layers {
  std::vector<std::uint8_t> top = std::vector<std::uint8_t>(kBytes);
  std::vector<std::uint8_t> bottom = std::vector<std::uint8_t>(kBytes);

  Layers() {
    for (int k = 0; k < kDifferences; ++k) {
      const int d = k - 255;
      const int lowest = d < 0 ? -d : 0;
      for (int c = 0; c < 3; ++c) {
        const int b = lowest + (k * 37 + c * 91) % (256 - (d < 0 ? -d : d));
        bottom[k * 4 + c] = static_cast<std::uint8_t>(b);
        top[k * 4 + c] = static_cast<std::uint8_t>(b + d);
      }
      bottom[k * 4 + 3] = 128;
    }
  }
};

// Composites `layers` atop at opacity a on the route and compares every
// byte with the reference (each pixel's own top alpha; the bottom's alpha
// kept): the mismatches, the first three reported.
std::int64_t mismatches_atop(const LayerRoute &route, const Layers &layers,
                             int a) {
  std::vector<std::uint8_t> result(layers.bottom.size());
  if (route.composite(layers_reference::kNormal, 0, kDifferences,
                      layers.top.data(), 4, layers.bottom.data(), 4,
                      result.data(), static_cast<std::uint8_t>(a)) != 0) {
    ADD_FAILURE() << "via " << route.via << ": the call was refused";
    return 1;
  }
  std::int64_t mismatches = 0;
  for (std::size_t i = 0; i < kBytes; ++i) {
    const std::uint8_t t = layers.top[i];
    const std::uint8_t b = layers.bottom[i];
    const std::uint64_t top_alpha = layers.top[i / 4 * 4 + 3];
    const std::uint8_t expected =
        i % 4 == 3
            ? b
            : layers_reference::composited_colour(
                  0, t, top_alpha, b, 128, t, static_cast<std::uint64_t>(a));
    if (result[i] != expected && ++mismatches <= 3) {
      ADD_FAILURE() << "via " << route.via << ", opacity " << a
                    << ", top alpha " << top_alpha << ", byte " << i << ": t "
                    << int{t} << ", b " << int{b} << " gave " << int{result[i]}
                    << ", not " << int{expected};
    }
  }
  return mismatches;
}

class AtopWeightsTest : public testing::TestWithParam<LayerRoute> {};

TEST_P(AtopWeightsTest, EveryOpacityTopAlphaAndDifference) {
  const LayerRoute &route = GetParam();
  SKIP_IF_ROUTE_UNSUPPORTED(route);
  Layers layers;
  std::int64_t mismatches = 0;
  for (int a = 0; a < 256 && mismatches == 0; ++a) {
    for (int top_alpha = 0; top_alpha < 256 && mismatches == 0; ++top_alpha) {
      for (int k = 0; k < kDifferences; ++k) {
        layers.top[k * 4 + 3] = static_cast<std::uint8_t>(top_alpha);
      }
      mismatches += mismatches_atop(route, layers, a);
    }
  }
  EXPECT_EQ(mismatches, 0);
}

// An opaque top pixel in a block of varying alphas: at opacity 255 its
// weight is 65025, the one weight whose scaled form would not fit a signed
// 16-bit lane. Every other pixel has alpha 254, so each block mixes the
// two; the two phases give every difference both alphas, at every opacity.
TEST_P(AtopWeightsTest, OpaqueTopPixelsAmongOthersAtEveryOpacity) {
  const LayerRoute &route = GetParam();
  SKIP_IF_ROUTE_UNSUPPORTED(route);
  Layers layers;
  std::int64_t mismatches = 0;
  for (int a = 0; a < 256 && mismatches == 0; ++a) {
    for (int phase = 0; phase < 2; ++phase) {
      for (int k = 0; k < kDifferences; ++k) {
        layers.top[k * 4 + 3] = (k + phase) % 2 == 0 ? 255 : 254;
      }
      mismatches += mismatches_atop(route, layers, a);
    }
  }
  EXPECT_EQ(mismatches, 0);
}

INSTANTIATE_TEST_SUITE_P(EveryRoute, AtopWeightsTest,
                         testing::ValuesIn(layers_testing::all_layer_routes()),
                         [](const testing::TestParamInfo<LayerRoute> &info) {
                           return info.param.via;
                         });

} // namespace
