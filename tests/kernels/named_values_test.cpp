// SPDX-License-Identifier: MIT
// The values that the blend modes are documented with, pinned by name on
// every route: the rounding of halfway pairs in dodge and burn, the branch
// point of overlay, the truncation of the opacity mix. The exhaustive test
// compares the routes with the reference route; these pin the reference
// route itself to the documented numbers as well. Minimum and Maximum are
// checked through the exported functions.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <vector>

#include "byteblend.h"
#include "implementation_list.hpp"
#include "reference.hpp"

namespace {

using testing_support::Route;

struct NamedValue {
  const char *kernel;
  std::uint8_t top;
  std::uint8_t bottom;
  std::uint8_t expected;
};

constexpr NamedValue kNamedValues[] = {
    {"AdditionBlend", 17, 63, 80},
    {"AdditionBlend", 200, 100, 255},
    {"AdditionBlend", 255, 255, 255},
    {"SubtractionBlend", 200, 100, 100},
    {"SubtractionBlend", 100, 200, 0}, // never b - t
    {"SubtractionBlend", 45, 7, 38},
    {"SubtractionBlend", 90, 90, 0},
    {"MultiplicationBlend", 255, 255, 255},
    {"MultiplicationBlend", 0, 200, 0},
    {"MultiplicationBlend", 1, 254, 1}, // 0.996 rounds up
    {"MultiplicationBlend", 128, 128, 64},
    {"MultiplicationBlend", 150, 110, 65},
    {"MultiplicationBlend", 110, 150, 65},
    {"MultiplicationBlend", 254, 254, 253},
    {"LightenBlend", 45, 7, 45},
    {"LightenBlend", 7, 45, 45},
    {"DarkenBlend", 45, 7, 7},
    {"DarkenBlend", 7, 45, 7},
    {"OpacityBlend", 0, 255, 127}, // truncated, not rounded
    {"OpacityBlend", 255, 0, 127},
    {"OpacityBlend", 1, 127, 64},
    {"OpacityBlend", 45, 7, 26},
    {"OpacityBlend", 254, 254, 254},
    {"ScreenBlend", 0, 77, 77},
    {"ScreenBlend", 255, 3, 255},
    {"ScreenBlend", 128, 128, 192},
    {"ScreenBlend", 100, 200, 222},
    {"ScreenBlend", 200, 100, 222},
    {"ScreenBlend", 1, 1, 2},
    {"OverlayBlend", 100, 127, 100}, // last bottom of the multiply branch
    {"OverlayBlend", 100, 128, 101}, // first bottom of the screen branch
    {"OverlayBlend", 200, 100, 157},
    {"OverlayBlend", 1, 127, 1},
    {"OverlayBlend", 254, 1, 2},
    {"OverlayBlend", 128, 128, 128},
    {"OverlayBlend", 0, 128, 1},
    {"OverlayBlend", 0, 255, 255},
    {"OverlayBlend", 255, 0, 0},
    {"ColorDodgeBlend", 0, 99, 99},
    {"ColorDodgeBlend", 255, 0, 255}, // top 255 wins over bottom 0
    {"ColorDodgeBlend", 254, 0, 0},
    {"ColorDodgeBlend", 254, 255, 255}, // 255 * 255 before the clamp
    {"ColorDodgeBlend", 128, 128, 255},
    {"ColorDodgeBlend", 1, 1, 1},
    {"ColorDodgeBlend", 45, 7, 8},
    {"ColorDodgeBlend", 17, 63, 67},  // exactly 67.5, rounds down
    {"ColorDodgeBlend", 1, 127, 128}, // exactly 127.5, rounds up
    {"ColorBurnBlend", 255, 99, 99},
    {"ColorBurnBlend", 0, 255, 0}, // top 0 wins over bottom 255
    {"ColorBurnBlend", 1, 255, 255},
    {"ColorBurnBlend", 128, 128, 2},
    {"ColorBurnBlend", 200, 100, 57},
    {"ColorBurnBlend", 100, 200, 115},
    {"ColorBurnBlend", 1, 254, 0},
    {"ColorBurnBlend", 1, 0, 0},     // far below zero before the clamp
    {"ColorBurnBlend", 150, 110, 8}, // exactly 8.5, rounds down
    {"ColorBurnBlend", 2, 254, 128}, // exactly 127.5, rounds up
    {"ColorBurnBlend", 254, 254, 254},
    {"RedChannelBlend", 0, 63, 63},
    {"RedChannelBlend", 85, 0, 255},
    {"RedChannelBlend", 50, 10, 160},
    {"RedChannelBlend", 17, 63, 114},
    {"RedChannelBlend", 255, 255, 255}, // 1020 before the clamp
    {"GreenChannelBlend", 85, 0, 255},
    {"GreenChannelBlend", 50, 10, 160},
    {"GreenChannelBlend", 17, 63, 114},
    {"BlueChannelBlend", 84, 3, 255},
    {"BlueChannelBlend", 84, 2, 254},
    {"BlueChannelBlend", 50, 10, 160},
};

TEST(NamedValues, ReferenceRouteGivesThem) {
  for (const NamedValue &value : kNamedValues) {
    EXPECT_EQ(
        reference::kernel_named(value.kernel).formula(value.top, value.bottom),
        value.expected)
        << value.kernel << " top " << int{value.top} << " bottom "
        << int{value.bottom};
  }
}

class NamedValuesTest : public testing::TestWithParam<Route> {};

// All of a kernel's values in one call, each at one of its visited indices.
TEST_P(NamedValuesTest, EveryRouteGivesThem) {
  const Route &route = GetParam();
  SKIP_IF_UNSUPPORTED(route);
  const reference::Kernel &kernel = reference::kernel_named(route.kernel);
  std::vector<NamedValue> values;
  for (const NamedValue &value : kNamedValues) {
    if (value.kernel == route.kernel) {
      values.push_back(value);
    }
  }
  ASSERT_FALSE(values.empty());
  const auto length = static_cast<std::int32_t>(
      kernel.start + (values.size() - 1) * kernel.stride + 1);
  std::vector<std::uint8_t> top(length);
  std::vector<std::uint8_t> bottom(length);
  std::vector<std::uint8_t> result(length);
  for (std::size_t k = 0; k < values.size(); ++k) {
    top[kernel.start + k * kernel.stride] = values[k].top;
    bottom[kernel.start + k * kernel.stride] = values[k].bottom;
  }

  route.function(length, top.data(), bottom.data(), result.data());

  for (std::size_t k = 0; k < values.size(); ++k) {
    EXPECT_EQ(result[kernel.start + k * kernel.stride], values[k].expected)
        << route.kernel << " via " << route.via << ": top "
        << int{values[k].top} << " bottom " << int{values[k].bottom};
  }
}

INSTANTIATE_TEST_SUITE_P(AllRoutes, NamedValuesTest,
                         testing::ValuesIn(testing_support::all_routes()),
                         testing_support::route_name);

struct SignedPair {
  std::int32_t a;
  std::int32_t b;
  std::int32_t smaller;
  std::int32_t larger;
};

constexpr SignedPair kSignedPairs[] = {
    {-5, 3, -5, 3},
    {300, 255, 255, 300},
    {-40, 0, -40, 0},
    {-1, 1, -1, 1}, // an unsigned comparison would swap these
    {INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX},
    {INT32_MIN, 0, INT32_MIN, 0},
    {7, 7, 7, 7},
};

TEST(ExportedClampHelpers, CompareSigned) {
  for (const SignedPair &pair : kSignedPairs) {
    for (const bool swapped : {false, true}) {
      const std::int32_t a = swapped ? pair.b : pair.a;
      const std::int32_t b = swapped ? pair.a : pair.b;
      EXPECT_EQ(Minimum(a, b), pair.smaller)
          << "Minimum(" << a << ", " << b << ")";
      EXPECT_EQ(Maximum(a, b), pair.larger)
          << "Maximum(" << a << ", " << b << ")";
    }
  }
}

} // namespace
