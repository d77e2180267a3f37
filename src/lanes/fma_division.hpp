// SPDX-License-Identifier: MIT
// x / 255 for whole numbers x in 0..255, correctly rounded like the IEEE
// division, but with a multiply and a fused multiply-add instead of the far
// slower divide: 1/255 is split into the nearest float and the nearest float
// to what that leaves over, and fma(x, high, x * low) rounds once, so close
// to x / 255 that it lands on the same float. The exhaustive tests confirm
// it for every byte value on every route that uses it.
#ifndef BYTEBLEND_LANES_FMA_DIVISION_HPP
#define BYTEBLEND_LANES_FMA_DIVISION_HPP

#include "../target_namespace.hpp"

namespace byteblend::BYTEBLEND_TARGET_NAMESPACE {

constexpr float kReciprocalOf255High = 1.0F / 255.0F;
constexpr float kReciprocalOf255Low =
    static_cast<float>(1.0 / 255.0 - static_cast<double>(kReciprocalOf255High));

// Fma(a, b, c) is a * b + c with a single rounding.
template <class V, class Fma> V divide_by_255_with_fma(V x, Fma fma) {
  return fma(x, V{} + kReciprocalOf255High, x * kReciprocalOf255Low);
}

} // namespace byteblend::BYTEBLEND_TARGET_NAMESPACE

#endif
