// SPDX-License-Identifier: MIT
// What each instruction set's lane kit hands a formula, checked in a unit
// compiled once per set (lane_kit_values.cpp) as the kernels are.
#ifndef BYTEBLEND_TESTS_LANE_KIT_VALUES_HPP
#define BYTEBLEND_TESTS_LANE_KIT_VALUES_HPP

#include "target_list.hpp"

#define BYTEBLEND_DECLARE_KIT_CHECKS(target, ...)                              \
  namespace byteblend::target {                                                \
  int normalized_float_mismatches();                                           \
  }
BYTEBLEND_FOR_EACH_TARGET(BYTEBLEND_DECLARE_KIT_CHECKS)
#undef BYTEBLEND_DECLARE_KIT_CHECKS

#endif
