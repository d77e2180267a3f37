// Formulas defined on values scaled into 0..1 in single precision.
//
// Screen and overlay always land strictly between two integers before their
// final rounding, so their exact integer forms give the same bytes as the
// single-precision route and are used here. Color dodge and color burn hit
// exact halves for some pairs, where the single-precision route decides the
// result, so they follow that route operation by operation: normalize each
// value (x / 255), divide, scale by 255, add 0.5, truncate, clamp.
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
};

// Bottom values 0..127 multiply: round(2 t b / 255). Bottom values 128..255
// screen: 255 - round(2 (255 - t)(255 - b) / 255), the same product on the
// inverted values, inverted. Inverting a byte is XOR with 255, so one mask
// (255 where b >= 128, else 0) chooses the branch for every lane without a
// select. In both branches one factor is at most 127.
struct Overlay {
  template <class L>
  static typename L::Bytes apply(typename L::Bytes t, typename L::Bytes b) {
    const typename L::Bytes screens = L::where_at_least_128(b);
    const typename L::Bytes product =
        L::on_words(t ^ screens, b ^ screens, [](auto x, auto y) {
          return divide_by_255_rounded_doubled<L>(x * y);
        });
    return product ^ screens;
  }
};

// 255 where t is 255; otherwise B / (1 - T) scaled, rounded, clamped to 255.
// Lanes that take the fixed result divide by 1 instead, so no lane ever
// divides by zero.
struct ColorDodge {
  template <class L>
  static typename L::Bytes apply(typename L::Bytes t, typename L::Bytes b) {
    return L::on_floats(t, b, [](auto top, auto bottom) {
      using Floats = decltype(top);
      using Ints = decltype(L::truncate(top));
      const auto top_full = top == 255.0F;
      const Floats T = L::divide_by_255(top);
      const Floats B = L::divide_by_255(bottom);
      const Floats divisor = top_full ? Floats{} + 1.0F : 1.0F - T;
      const Floats scaled = B / divisor * 255.0F;
      const Ints rounded = L::truncate(scaled + 0.5F);
      return top_full ? Ints{} + 255 : minimum(rounded, Ints{} + 255);
    });
  }
};

// 0 where t is 0; otherwise 1 - (1 - B) / T scaled, rounded (the sum may be
// negative and truncates toward zero), clamped to 0. Lanes that take the
// fixed result divide by 1 instead.
struct ColorBurn {
  template <class L>
  static typename L::Bytes apply(typename L::Bytes t, typename L::Bytes b) {
    return L::on_floats(t, b, [](auto top, auto bottom) {
      using Floats = decltype(top);
      using Ints = decltype(L::truncate(top));
      const auto top_zero = top == 0.0F;
      const Floats T = L::divide_by_255(top);
      const Floats B = L::divide_by_255(bottom);
      const Floats divisor = top_zero ? Floats{} + 1.0F : T;
      const Floats scaled = (1.0F - (1.0F - B) / divisor) * 255.0F;
      const Ints rounded = L::truncate(scaled + 0.5F);
      return top_zero ? Ints{} : maximum(rounded, Ints{});
    });
  }
};

} // namespace byteblend::BYTEBLEND_TARGET_NAMESPACE

#endif
