// SPDX-License-Identifier: MIT
// Every (top, bottom) pair through every route of every kernel, against the
// reference route.
#include <gtest/gtest.h>

#include "exhaustive_check.hpp"
#include "implementation_list.hpp"

namespace {

using testing_support::Route;

class ExhaustiveTest : public testing::TestWithParam<Route> {};

TEST_P(ExhaustiveTest, MatchesReferenceForEveryPair) {
  const Route &route = GetParam();
  SKIP_IF_UNSUPPORTED(route);
  EXPECT_EQ(testing_support::count_mismatches_over_all_pairs(
                reference::kernel_named(route.kernel), route.function,
                route.kernel + " via " + route.via),
            0);
}

INSTANTIATE_TEST_SUITE_P(AllRoutes, ExhaustiveTest,
                         testing::ValuesIn(testing_support::all_routes()),
                         testing_support::route_name);

} // namespace
