// SPDX-License-Identifier: MIT
// Formulas defined on values scaled into 0..1 in single precision.
//
// Screen and overlay always land strictly between two integers before their
// final rounding, so their exact integer forms give the same bytes as the
// single-precision route and are used here. Color dodge and color burn hit
// exact halves for some pairs, where the single-precision route decides the
// result, so they follow that route operation by operation: normalize each
// value (x / 255), divide, scale by 255, add 0.5, truncate, clamp (merged
// where every pair gives the same bytes, as said below).
#ifndef BYTEBLEND_FORMULAS_NORMALIZED_HPP
#define BYTEBLEND_FORMULAS_NORMALIZED_HPP

#include "../clamp.hpp"
#include "direct.hpp"

namespace byteblend::BYTEBLEND_TARGET_NAMESPACE {

// 255 (1 - (1 - T)(1 - B)) rounded = t + b - round(t b / 255). The rounded
// product never exceeds b, so the byte arithmetic below cannot wrap.
struct Screen {
  template <class L>
  static typename L::Bytes apply(typename L::Bytes t, typename L::Bytes b) {
    return t + (b - multiply_rounded<L>(t, b));
  }
  template <class L, class W> static W apply_words(W t, W b) {
    return t + (b - multiply_rounded_words<L>(t, b));
  }
};

// Bottom values 0..127 multiply: round(2 t b / 255). Bottom values 128..255
// screen: 255 - round(2 (255 - t)(255 - b) / 255), the same product on the
// inverted values, inverted. Inverting a byte is subtracting it from 255,
// in the lanes whose bottom value is 128 or more. In both branches the
// bottom factor is at most 127, which lets the kit form each product plus
// the 64 that the rounding needs in one byte multiply-add.
struct Overlay {
  template <class L>
  static typename L::Bytes apply(typename L::Bytes t, typename L::Bytes b) {
    const typename L::Bytes product = L::on_products_plus(
        L::complement_where_at_least_128(t, b),
        L::complement_where_at_least_128(b, b), 64, [](auto p_plus_64) {
          return divide_by_255_rounded_doubled_from_p_plus_64<L>(p_plus_64);
        });
    return L::complement_where_at_least_128(product, b);
  }
};

// Dodge and burn take T = t / 255 and B = b / 255 from the lane kit's
// on_normalized_floats, correctly rounded as in the defined route but
// scaled by L::kNormalizedScale, a power of two, which moves no rounding:
// S - T with S = L::kNormalizedScale is 1 - T rounded and scaled, and the
// quotient of two scaled values is the defined quotient itself. The AVX-512
// kit gets the scaled values from its widening alone, where the division by
// 255 takes a multiply and a fused multiply-add.
//
// The fixed results at t = 255 (dodge) and t = 0 (burn) come out of the
// general route without a select. These kernels run with every
// floating-point exception masked (float_environment.hpp), so the division
// by zero there gives an infinity, or a NaN for 0 / 0, and:
// - dodge's clamp to 255 is taken in single precision, where both the
//   infinity and the NaN (a comparison with a NaN is false) become 255;
// - burn's infinity or NaN truncates to INT32_MIN, which the lane kit's
//   saturating return to bytes makes 0, as it does every negative value:
//   burn needs no clamp of its own.
//
// Where a formula multiplies and adds, L::multiply_add rounds once on the
// routes with fused multiply-add and twice elsewhere; for these two formulas
// both give the bytes of the defined route (scale, round, add 0.5, round)
// for every pair, which the exhaustive tests check on every route.

// B / (1 - T), scaled by 255, plus 0.5, clamped to 255, truncated.
struct ColorDodge {
  template <class L>
  static typename L::Bytes apply(typename L::Bytes t, typename L::Bytes b) {
    return L::on_normalized_floats(t, b, [](auto top, auto bottom) {
      using Floats = decltype(top);
      const Floats q = bottom / (L::kNormalizedScale - top);
      const Floats s = L::multiply_add(q, Floats{} + 255.0F, Floats{} + 0.5F);
      return L::truncate(L::lesser(s, Floats{} + 255.0F));
    });
  }
};

// 1 - (1 - B) / T, scaled by 255, plus 0.5, truncated (toward zero, also
// below zero); negative results become 0 on the way back to bytes.
// 255 (1 - q) + 0.5 is computed as 255.5 - 255 q.
struct ColorBurn {
  template <class L>
  static typename L::Bytes apply(typename L::Bytes t, typename L::Bytes b) {
    return L::on_normalized_floats(t, b, [](auto top, auto bottom) {
      using Floats = decltype(top);
      const Floats q = (L::kNormalizedScale - bottom) / top;
      return L::truncate(
          L::multiply_add(q, Floats{} - 255.0F, Floats{} + 255.5F));
    });
  }
};

} // namespace byteblend::BYTEBLEND_TARGET_NAMESPACE

#endif
