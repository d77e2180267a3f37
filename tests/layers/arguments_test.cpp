// SPDX-License-Identifier: MIT
// Unknown modes, operators and channel counts give their error and touch
// no memory (null pointers would fault); counts of zero and below touch
// nothing either and succeed.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

#include "byteblend_layers.h"
#include "layer_route_list.hpp"

namespace {

using layers_testing::LayerRoute;

class ArgumentsTest : public testing::TestWithParam<LayerRoute> {};

TEST_P(ArgumentsTest, ErrorsTouchNothing) {
  const LayerRoute &route = GetParam();
  SKIP_IF_ROUTE_UNSUPPORTED(route);
  struct Case {
    int mode;
    int op;
    int top_channels;
    int bottom_channels;
    int expected;
  };
  const Case cases[] = {
      {-1, 0, 4, 4, BYTEBLEND_ERROR_UNKNOWN_MODE},
      {14, 0, 4, 4, BYTEBLEND_ERROR_UNKNOWN_MODE},
      {INT_MIN, 0, 4, 4, BYTEBLEND_ERROR_UNKNOWN_MODE},
      {0, 2, 4, 4, BYTEBLEND_ERROR_UNKNOWN_OPERATOR},
      {13, -1, 3, 3, BYTEBLEND_ERROR_UNKNOWN_OPERATOR},
      {0, 0, 2, 4, BYTEBLEND_ERROR_UNSUPPORTED_CHANNELS},
      {0, 1, 4, 5, BYTEBLEND_ERROR_UNSUPPORTED_CHANNELS},
      {0, 0, 1, 1, BYTEBLEND_ERROR_UNSUPPORTED_CHANNELS},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(route.composite(c.mode, c.op, 1000, nullptr, c.top_channels,
                              nullptr, c.bottom_channels, nullptr, 128),
              c.expected)
        << "mode " << c.mode << ", operator " << c.op << ", channels "
        << c.top_channels << " onto " << c.bottom_channels;
  }
  for (const int mode : {-1, 14, 1000}) {
    EXPECT_EQ(
        route.blend_with_opacity(mode, 1000, nullptr, nullptr, nullptr, 128),
        BYTEBLEND_ERROR_UNKNOWN_MODE)
        << "mode " << mode;
  }
  for (const std::int32_t count : {0, -1, INT32_MIN}) {
    for (int mode = 0; mode < 14; ++mode) {
      EXPECT_EQ(
          route.blend_with_opacity(mode, count, nullptr, nullptr, nullptr, 100),
          0);
      EXPECT_EQ(
          route.composite(mode, 1, count, nullptr, 4, nullptr, 4, nullptr, 100),
          0);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EveryRoute, ArgumentsTest,
                         testing::ValuesIn(layers_testing::all_layer_routes()),
                         [](const testing::TestParamInfo<LayerRoute> &info) {
                           return info.param.via;
                         });

} // namespace
