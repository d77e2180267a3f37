// SPDX-License-Identifier: MIT
// One value at a time: the plain route, and the tail of every vector route
// that cannot mask its memory accesses.
//
// A lane kit gives the formulas their vocabulary: the byte type they work on,
// loads and stores, the few byte operations that C++ has no operator for,
// and ways to run a formula on wider lanes (16-bit words, single-precision
// floats). The formulas are templates over the kit, written once for all.
#ifndef BYTEBLEND_LANES_SCALAR_HPP
#define BYTEBLEND_LANES_SCALAR_HPP

#include <xmmintrin.h>

#include <cstddef>
#include <cstdint>

#include "../clamp.hpp"
#include "normalized_scale.hpp"

namespace byteblend::BYTEBLEND_TARGET_NAMESPACE {

struct ScalarLanes {
  // A byte value 0..255, held in the signed 32-bit working integer.
  using Bytes = std::int32_t;
  static constexpr std::ptrdiff_t kCount = 1;
  static constexpr bool kMaskedMemory = false;
  // Plain stores only: a byte at a time, a streaming store would cost more
  // than the cache it saves.
  static constexpr bool kStreamingStores = false;

  static Bytes load(const std::uint8_t *p) { return *p; }
  // Stores the low eight bits of the working value.
  static void store(std::uint8_t *p, Bytes v) {
    *p = static_cast<std::uint8_t>(v);
  }

  static Bytes add_saturate(Bytes a, Bytes b) { return minimum(a + b, 255); }
  static Bytes subtract_saturate(Bytes a, Bytes b) { return maximum(a - b, 0); }
  static Bytes average_rounding_up(Bytes a, Bytes b) {
    return (a + b + 1) >> 1;
  }

  // 255 where the value is 128 or more, else 0.
  static Bytes where_at_least_128(Bytes v) { return v >= 128 ? 255 : 0; }

  // Runs f on lanes wide enough for a product of two bytes plus a constant.
  template <class F> static Bytes on_words(Bytes x, Bytes y, F f) {
    return f(x, y);
  }

  // 255 - v where the selector is 128 or more, else v.
  static Bytes complement_where_at_least_128(Bytes v, Bytes selector) {
    return v ^ where_at_least_128(selector);
  }

  // Runs f on x * y + c, for y and c at most 127.
  template <class F>
  static Bytes on_products_plus(Bytes x, Bytes y, std::int32_t c, F f) {
    return f(x * y + c);
  }

  // The high 16 bits of the 32-bit product of two values 0..65535 (which
  // may not fit a signed 32-bit integer).
  static std::int32_t multiply_high(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(
        (static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b)) >> 16);
  }

  // Runs f on the values as single-precision floats; f returns a 32-bit
  // integer, which comes back clamped to 0..255 as the vector routes'
  // saturating packs do.
  template <class F> static Bytes on_floats(Bytes x, Bytes y, F f) {
    return maximum(
        minimum(f(static_cast<float>(x), static_cast<float>(y)), 255), 0);
  }

  // The scale of the values that on_normalized_floats hands its formula.
  static constexpr float kNormalizedScale = kScaleOfCopies;

  // Runs f on x / 255 and y / 255, each correctly rounded and scaled by
  // kNormalizedScale (normalized_scale.hpp); the result comes back as
  // on_floats returns it.
  template <class F> static Bytes on_normalized_floats(Bytes x, Bytes y, F f) {
    constexpr std::int32_t kThreeCopies = 0x010101;
    return maximum(
        minimum(f(normalized_from_copies(static_cast<float>(x * kThreeCopies)),
                  normalized_from_copies(static_cast<float>(y * kThreeCopies))),
                255),
        0);
  }

  // x / 255 correctly rounded, for x a whole number 0..255.
  static float divide_by_255(float x) { return x / 255.0F; }

  // a where a < b, else b (also where either is a NaN).
  static float lesser(float a, float b) { return a < b ? a : b; }

  // a * b + c, rounded twice (the plain route uses no fused multiply-add).
  static float multiply_add(float a, float b, float c) { return a * b + c; }

  // Conversion toward zero to a signed 32-bit integer, as the instruction
  // does it: infinities, NaNs and values out of range give INT32_MIN.
  static std::int32_t truncate(float x) {
    return _mm_cvttss_si32(_mm_set_ss(x));
  }
};

} // namespace byteblend::BYTEBLEND_TARGET_NAMESPACE

#endif
