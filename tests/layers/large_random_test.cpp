// SPDX-License-Identifier: MIT
// A hundred million random (t, b, At, Ab, a) per route, across every mode,
// operator and layout: `ctest -L large` runs it.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "layer_checks.hpp"
#include "layer_route_list.hpp"
#include "layers_reference.hpp"

namespace {

using layers_testing::LayerRoute;

// splitmix64: fast, and the same sequence on every machine.
class Random {
public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }

private:
  std::uint64_t state_;
};

class LargeRandomTest : public testing::TestWithParam<LayerRoute> {};

TEST_P(LargeRandomTest, HundredMillionPixels) {
  const LayerRoute &route = GetParam();
  SKIP_IF_ROUTE_UNSUPPORTED(route);
  std::vector<std::vector<std::uint8_t>> tables;
  tables.reserve(layers_reference::kModes);
  for (int mode = 0; mode < layers_reference::kModes; ++mode) {
    tables.push_back(layers_reference::mode_table(mode));
  }
  constexpr std::int32_t kPixels = 4096;
  constexpr std::size_t kBytes = std::size_t{kPixels} * 4;
  constexpr std::int64_t kTotal = 100'000'000;
  Random random(20261209);
  std::vector<std::uint8_t> top(kBytes);
  std::vector<std::uint8_t> bottom(kBytes);
  std::vector<std::uint8_t> result(kBytes);
  std::int64_t mismatches = 0;
  for (std::int64_t done = 0; done < kTotal && mismatches == 0;
       done += kPixels) {
    const std::uint64_t choice = random.next();
    const int mode = static_cast<int>(choice % layers_reference::kModes);
    const int op = static_cast<int>((choice >> 8) & 1);
    const auto layout = layers_testing::kLayouts[(choice >> 9) & 3];
    const auto a = static_cast<std::uint8_t>(choice >> 16);
    const int tc = layout.top_channels;
    const int bc = layout.bottom_channels;
    for (std::size_t i = 0; i < top.size(); i += 8) {
      const std::uint64_t bits = random.next();
      const std::uint64_t more = random.next();
      for (std::size_t k = 0; k < 8; ++k) {
        top[i + k] = static_cast<std::uint8_t>(bits >> (8 * k));
        bottom[i + k] = static_cast<std::uint8_t>(more >> (8 * k));
      }
    }
    ASSERT_EQ(route.composite(mode, op, kPixels, top.data(), tc, bottom.data(),
                              bc, result.data(), a),
              0);
    const int channel = layers_reference::channel_of_mode(mode);
    for (std::int64_t p = 0; p < kPixels; ++p) {
      std::array<std::uint8_t, 3> t{};
      std::array<std::uint8_t, 3> b{};
      std::array<std::uint8_t, 3> r{};
      for (int c = 0; c < 3; ++c) {
        t[c] = top[p * tc + c];
        b[c] = bottom[p * bc + c];
        r[c] = channel < 0 || channel == c ? tables[mode][t[c] * 256 + b[c]]
                                           : b[c];
      }
      const auto expected = layers_reference::composited(
          op, t, tc == 4 ? top[p * tc + 3] : 255, b,
          bc == 4 ? bottom[p * bc + 3] : 255, r, a);
      for (int c = 0; c < bc; ++c) {
        if (result[p * bc + c] != expected[c] && ++mismatches <= 5) {
          ADD_FAILURE() << "via " << route.via << ", mode "
                        << layers_reference::kModeNames[mode] << ", "
                        << (op == 0 ? "atop" : "over") << ", " << tc << " onto "
                        << bc << ", opacity " << int{a} << ", pixel " << p
                        << " channel " << c << ": " << int{result[p * bc + c]}
                        << ", expected " << int{expected[c]};
        }
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

INSTANTIATE_TEST_SUITE_P(EveryRoute, LargeRandomTest,
                         testing::ValuesIn(layers_testing::all_layer_routes()),
                         [](const testing::TestParamInfo<LayerRoute> &info) {
                           return info.param.via;
                         });

} // namespace
