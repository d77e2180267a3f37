// The comparison of all 65536 (top, bottom) pairs of one kernel against the
// reference route, through any function pointer: a build linked into the
// test, the exported name, or a symbol resolved with dlsym.
#ifndef BYTEBLEND_TESTS_EXHAUSTIVE_CHECK_HPP
#define BYTEBLEND_TESTS_EXHAUSTIVE_CHECK_HPP

#include <cstdint>
#include <string_view>

#include "reference.hpp"

namespace testing_support {

using KernelPointer = void (*)(std::int32_t length, const std::uint8_t *top,
                               const std::uint8_t *bottom,
                               std::uint8_t *result);

// Pair k sits at the k-th visited index; the bytes that the kernel does not
// visit hold a marker that must survive. Reports the first mismatches as
// test failures, labelled with `label`, and returns how many there were.
std::int32_t count_mismatches_over_all_pairs(const reference::Kernel &kernel,
                                             KernelPointer function,
                                             std::string_view label);

} // namespace testing_support

#endif
