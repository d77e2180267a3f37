// SPDX-License-Identifier: MIT
// Composites of pixel runs whose alphas are all 0 or all 255 (the cases a
// route may finish without dividing), each also with one pixel, at every
// position of a 16-pixel run, one step off: every mode, operator, layout
// and route, against the reference. A route's blocks are 16, 8 or 4 pixels
// (a register's), so the runs cover every position of each. A pixel off
// at a block's first or last position is found by comparing those two
// pixels alone; one between them, only by the test of them all.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "layer_checks.hpp"
#include "layer_route_list.hpp"
#include "layers_reference.hpp"

namespace {

using layers_testing::LayerRoute;

constexpr int kBlock = 16;
constexpr int kRandom = -1; // an alpha drawn at random for each pixel

struct Alphas {
  std::vector<std::uint8_t> top;
  std::vector<std::uint8_t> bottom;
};

// One step from a uniform alpha: 0 becomes 1, 255 becomes 254.
std::uint8_t one_off(int alpha) { return alpha == 0 ? 1 : 254; }

// Every pairing of uniform top and bottom alphas (0, 255, random) in runs
// of a block, each run as it is and with one pixel one step off, on the
// top's side or the bottom's, at each position in turn.
Alphas alpha_runs(std::mt19937 &random) {
  Alphas alphas;
  const auto value = [&random](int uniform) {
    return static_cast<std::uint8_t>(uniform == kRandom ? random() : uniform);
  };
  for (const int top : {0, 255, kRandom}) {
    for (const int bottom : {0, 255, kRandom}) {
      for (int odd = -1; odd < 2 * kBlock; ++odd) {
        const bool on_top = odd < kBlock;
        const int at = odd % kBlock;
        if (odd >= 0 && (on_top ? top : bottom) == kRandom) {
          continue;
        }
        for (int k = 0; k < kBlock; ++k) {
          const bool changed = odd >= 0 && k == at;
          alphas.top.push_back(changed && on_top ? one_off(top) : value(top));
          alphas.bottom.push_back(changed && !on_top ? one_off(bottom)
                                                     : value(bottom));
        }
      }
    }
  }
  return alphas;
}

class UniformBlocksTest : public testing::TestWithParam<LayerRoute> {};

TEST_P(UniformBlocksTest, RunsOfUniformAlphaAndOnePixelOff) {
  const LayerRoute &route = GetParam();
  SKIP_IF_ROUTE_UNSUPPORTED(route);
  std::mt19937 random(1209);
  const Alphas alphas = alpha_runs(random);
  const auto pixels = static_cast<std::int32_t>(alphas.top.size());
  std::int64_t mismatches = 0;
  for (int mode = 0; mode < layers_reference::kModes; ++mode) {
    for (const layers_testing::Layout layout : layers_testing::kLayouts) {
      const int tc = layout.top_channels;
      const int bc = layout.bottom_channels;
      std::vector<std::uint8_t> top(std::size_t{4} * pixels);
      std::vector<std::uint8_t> bottom(std::size_t{4} * pixels);
      std::vector<std::uint8_t> result(std::size_t{4} * pixels);
      for (std::int32_t p = 0; p < pixels; ++p) {
        for (int c = 0; c < 4; ++c) {
          top[p * tc + c % tc] = static_cast<std::uint8_t>(random());
          bottom[p * bc + c % bc] = static_cast<std::uint8_t>(random());
        }
        if (tc == 4) {
          top[p * 4 + 3] = alphas.top[p];
        }
        if (bc == 4) {
          bottom[p * 4 + 3] = alphas.bottom[p];
        }
      }
      for (const int op : {0, 1}) {
        for (const int a : {0, 1, 128, 255}) {
          const auto opacity = static_cast<std::uint8_t>(a);
          ASSERT_EQ(route.composite(mode, op, pixels, top.data(), tc,
                                    bottom.data(), bc, result.data(), opacity),
                    0);
          const auto expected = layers_reference::composited_pixels(
              mode, op, pixels, top.data(), tc, bottom.data(), bc, opacity);
          for (std::int32_t p = 0; p < pixels; ++p) {
            const int top_alpha = tc == 4 ? top[p * 4 + 3] : 255;
            const int bottom_alpha = bc == 4 ? bottom[p * 4 + 3] : 255;
            for (int c = 0; c < bc; ++c) {
              const std::size_t at = static_cast<std::size_t>(p) * bc + c;
              if (result[at] != expected[at] && ++mismatches <= 5) {
                ADD_FAILURE()
                    << "via " << route.via << ", mode "
                    << layers_reference::kModeNames[mode] << ", "
                    << (op == 0 ? "atop" : "over") << ", " << tc << " onto "
                    << bc << ", opacity " << a << ", pixel " << p << " (At "
                    << top_alpha << ", Ab " << bottom_alpha << ") channel " << c
                    << ": " << int{result[at]} << ", expected "
                    << int{expected[at]};
              }
            }
          }
        }
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

INSTANTIATE_TEST_SUITE_P(EveryRoute, UniformBlocksTest,
                         testing::ValuesIn(layers_testing::all_layer_routes()),
                         [](const testing::TestParamInfo<LayerRoute> &info) {
                           return info.param.via;
                         });

} // namespace
