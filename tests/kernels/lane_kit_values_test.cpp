// SPDX-License-Identifier: MIT
// Every instruction set's lane kit, on the values it hands the formulas
// (the kernels' exhaustive tests see them only through the bytes).
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "cpu_features.hpp"
#include "lane_kit_values.hpp"

namespace {

struct Kit {
  std::string name;
  byteblend::Target target;
  int (*normalized_float_mismatches)();

  friend void PrintTo(const Kit &kit, std::ostream *out) { *out << kit.name; }
};

#define BYTEBLEND_KIT(target, ...)                                             \
  Kit{#target, byteblend::Target::target,                                      \
      &byteblend::target::normalized_float_mismatches},
const Kit kKits[] = {BYTEBLEND_FOR_EACH_TARGET(BYTEBLEND_KIT)};
#undef BYTEBLEND_KIT

class LaneKitTest : public testing::TestWithParam<Kit> {};

TEST_P(LaneKitTest, NormalizedFloatsAreCorrectlyRoundedAndScaled) {
  const Kit &kit = GetParam();
  if (!byteblend::cpu_supports(kit.target)) {
    GTEST_SKIP() << "this CPU lacks " << kit.name;
  }
  EXPECT_EQ(kit.normalized_float_mismatches(), 0);
}

INSTANTIATE_TEST_SUITE_P(EveryKit, LaneKitTest, testing::ValuesIn(kKits),
                         [](const testing::TestParamInfo<Kit> &info) {
                           return info.param.name;
                         });

} // namespace
