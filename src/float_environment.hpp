// SPDX-License-Identifier: MIT
// The kernels that compute in floating point give the same bytes whatever
// floating-point environment the host left behind: another rounding mode,
// flush-to-zero, denormals-are-zero or unmasked traps. Each such kernel
// saves the caller's MXCSR, installs the default one for its own work and
// puts the caller's back, status flags included, before it returns.
//
// The floating-point work runs in a function that is never inlined into the
// one that switches the mode: the compiler may move a floating-point
// operation across the writes to MXCSR, but never into or out of a call.
// Nothing in the library uses the x87 unit, so its control word needs no
// care.
#ifndef BYTEBLEND_FLOAT_ENVIRONMENT_HPP
#define BYTEBLEND_FLOAT_ENVIRONMENT_HPP

#include <xmmintrin.h>

#include <cstdint>

#include "element_loop.hpp"

namespace byteblend::BYTEBLEND_TARGET_NAMESPACE {

// Round to nearest even, denormals kept, every exception masked and no
// status flag raised: what a program starts with.
constexpr unsigned kDefaultMxcsr = 0x1F80;

template <class L, class Formula>
[[gnu::noinline]] void
blend_every_byte_out_of_line(std::int32_t length, const std::uint8_t *top,
                             const std::uint8_t *bottom, std::uint8_t *result) {
  blend_every_byte<L, Formula>(length, top, bottom, result);
}

template <class L, class Formula>
void blend_every_byte_in_default_environment(std::int32_t length,
                                             const std::uint8_t *top,
                                             const std::uint8_t *bottom,
                                             std::uint8_t *result) {
  const unsigned caller = _mm_getcsr();
  _mm_setcsr(kDefaultMxcsr);
  blend_every_byte_out_of_line<L, Formula>(length, top, bottom, result);
  _mm_setcsr(caller);
}

} // namespace byteblend::BYTEBLEND_TARGET_NAMESPACE

#endif
