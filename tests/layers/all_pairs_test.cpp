// SPDX-License-Identifier: MIT
// Every (t, b) pair of every mode on every route: at every opacity with
// opaque layers, in the byte-by-byte form and as a composite; and at a grid
// of top alphas, bottom alphas and opacities for both operators and all
// four channel layouts.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "layer_checks.hpp"
#include "layers_reference.hpp"

namespace {

using layers_testing::LayerRoute;

class AllPairsTest
    : public testing::TestWithParam<std::tuple<LayerRoute, int>> {};

TEST_P(AllPairsTest, FlatFormAtEveryOpacity) {
  const auto &[route, mode] = GetParam();
  SKIP_IF_ROUTE_UNSUPPORTED(route);
  const auto table = layers_reference::mode_table(mode);
  std::int64_t mismatches = 0;
  for (int a = 0; a < 256 && mismatches == 0; ++a) {
    mismatches += layers_testing::flat_mismatches(route, mode, table,
                                                  static_cast<std::uint8_t>(a));
  }
  EXPECT_EQ(mismatches, 0);
}

// Opaque layers, RGB onto RGB and RGBA (alpha 255) onto RGBA: atop gives
// round((a r + (255 - a) b) / 255); over onto opaque pixels is in the grid.
TEST_P(AllPairsTest, OpaqueCompositeAtEveryOpacity) {
  const auto &[route, mode] = GetParam();
  SKIP_IF_ROUTE_UNSUPPORTED(route);
  const auto table = layers_reference::mode_table(mode);
  std::int64_t mismatches = 0;
  for (const layers_testing::Layout layout :
       {layers_testing::Layout{3, 3}, layers_testing::Layout{4, 4}}) {
    for (int a = 0; a < 256 && mismatches == 0; ++a) {
      mismatches += layers_testing::composite_mismatches(
          route, mode, 0, layout, table, 255, 255,
          static_cast<std::uint8_t>(a));
    }
  }
  EXPECT_EQ(mismatches, 0);
}

// The edges of each byte and a seeded random value.
std::vector<std::uint8_t> grid() {
  std::vector<std::uint8_t> values = {0, 1, 127, 128, 254, 255};
  std::mt19937 generator(2026);
  for (int k = 0; k < 1; ++k) {
    values.push_back(static_cast<std::uint8_t>(2 + generator() % 125));
  }
  return values;
}

TEST_P(AllPairsTest, CompositeAtAGridOfAlphasAndOpacities) {
  const auto &[route, mode] = GetParam();
  SKIP_IF_ROUTE_UNSUPPORTED(route);
  const auto table = layers_reference::mode_table(mode);
  const std::vector<std::uint8_t> values = grid();
  const std::vector<std::uint8_t> opaque = {255};
  std::int64_t mismatches = 0;
  for (const layers_testing::Layout layout : layers_testing::kLayouts) {
    const auto &top_alphas = layout.top_channels == 4 ? values : opaque;
    const auto &bottom_alphas = layout.bottom_channels == 4 ? values : opaque;
    for (const int op : {0, 1}) {
      for (const std::uint8_t top_alpha : top_alphas) {
        for (const std::uint8_t bottom_alpha : bottom_alphas) {
          for (const std::uint8_t a : values) {
            if (mismatches == 0) {
              mismatches += layers_testing::composite_mismatches(
                  route, mode, op, layout, table, top_alpha, bottom_alpha, a);
            }
          }
        }
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

std::string
name_of(const testing::TestParamInfo<std::tuple<LayerRoute, int>> &info) {
  // The route last, as the kernels' tests name theirs: the emulated-CPU
  // stage tells a route's tests by that suffix.
  return std::string(layers_reference::kModeNames[std::get<1>(info.param)]) +
         "_" + std::get<0>(info.param).via;
}

INSTANTIATE_TEST_SUITE_P(
    EveryRouteAndMode, AllPairsTest,
    testing::Combine(testing::ValuesIn(layers_testing::all_layer_routes()),
                     testing::Range(0, layers_reference::kModes)),
    name_of);

} // namespace
