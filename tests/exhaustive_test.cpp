// Every (top, bottom) pair through every route of every kernel, against the
// reference route. Pair k sits at the k-th visited index; the bytes that the
// kernel does not visit hold a marker that must survive.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "implementation_list.hpp"
#include "reference.hpp"

namespace {

using testing_support::Route;

constexpr std::int32_t kPairs = 256 * 256;
constexpr std::uint8_t kUntouched = 0xA5;

class ExhaustiveTest : public testing::TestWithParam<Route> {};

TEST_P(ExhaustiveTest, MatchesReferenceForEveryPair) {
  const Route &route = GetParam();
  SKIP_IF_UNSUPPORTED(route);
  const reference::Kernel &kernel = reference::kernel_named(route.kernel);
  const std::int32_t length = kernel.start + kPairs * kernel.stride;
  std::vector<std::uint8_t> top(length, kUntouched);
  std::vector<std::uint8_t> bottom(length, kUntouched);
  std::vector<std::uint8_t> result(length, kUntouched);
  for (std::int32_t k = 0; k < kPairs; ++k) {
    top[kernel.start + k * kernel.stride] = static_cast<std::uint8_t>(k >> 8);
    bottom[kernel.start + k * kernel.stride] = static_cast<std::uint8_t>(k);
  }

  route.function(length, top.data(), bottom.data(), result.data());

  std::int32_t mismatches = 0;
  for (std::int32_t i = 0; i < length; ++i) {
    const bool visited =
        i >= kernel.start && (i - kernel.start) % kernel.stride == 0;
    const std::int32_t expected =
        visited ? kernel.formula(top[i], bottom[i]) : kUntouched;
    if (result[i] != expected && ++mismatches <= 10) {
      ADD_FAILURE() << route.kernel << " via " << route.via << ": top "
                    << int{top[i]} << ", bottom " << int{bottom[i]}
                    << " at index " << i << " gave " << int{result[i]}
                    << ", expected " << expected;
    }
  }
  EXPECT_EQ(mismatches, 0);
}

INSTANTIATE_TEST_SUITE_P(AllRoutes, ExhaustiveTest,
                         testing::ValuesIn(testing_support::all_routes()),
                         testing_support::route_name);

} // namespace
