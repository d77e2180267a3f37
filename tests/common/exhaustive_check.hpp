// SPDX-License-Identifier: MIT
// The comparison of all 65536 (top, bottom) pairs of one kernel against the
// reference route, through any function pointer: a build linked into the
// test, the exported name, or a symbol resolved with dlsym.
#ifndef BYTEBLEND_TESTS_EXHAUSTIVE_CHECK_HPP
#define BYTEBLEND_TESTS_EXHAUSTIVE_CHECK_HPP

#include <cstdint>
#include <functional>
#include <string_view>

#include "reference.hpp"

namespace testing_support {

using KernelPointer = void (*)(std::int32_t length, const std::uint8_t *top,
                               const std::uint8_t *bottom,
                               std::uint8_t *result);
// A kernel, or a call that wraps one (say, in a floating-point environment).
using KernelCall =
    std::function<void(std::int32_t length, const std::uint8_t *top,
                       const std::uint8_t *bottom, std::uint8_t *result)>;

// Pair k sits at the k-th visited index; the bytes that the kernel does not
// visit hold a marker that must survive. Reports the first mismatches as
// test failures, labelled with `label`, and returns how many there were.
// The reference values are computed after `function` returns.
std::int32_t count_mismatches_over_all_pairs(const reference::Kernel &kernel,
                                             const KernelCall &function,
                                             std::string_view label);

} // namespace testing_support

#endif
