// SPDX-License-Identifier: MIT
// The roundings of the layers to the nearest integer: n / 255 for the
// opacity alone, and x / y for over's colours (by each pixel's y) and its
// alpha (y / 65025, 255 squared). Where the divisor is odd no quotient is
// ever a half, and where it is even halves round up.
#ifndef BYTEBLEND_LAYERS_ROUNDING_HPP
#define BYTEBLEND_LAYERS_ROUNDING_HPP

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <type_traits>

#include "../formulas/direct.hpp"

namespace byteblend::BYTEBLEND_TARGET_NAMESPACE {

// v in every lane of W (a lane vector, or a plain integer).
template <class W> W splat(unsigned v) {
  if constexpr (std::is_arithmetic_v<W>) {
    return static_cast<W>(v);
  } else {
    using Element = std::remove_cvref_t<decltype(W{}[0])>;
    return W{} + static_cast<Element>(v);
  }
}

// round((a r + rest b) / 255) with rest = 255 - a, for byte values r and b
// in 16-bit lanes (or wider): the sum is at most 65025, and
// divide_by_255_rounded, the classic (x + 128 + ((x + 128) >> 8)) >> 8, is
// exact for every integer up to that.
template <class L, class W> W mix_words_with_opacity(W r, W b, W a, W rest) {
  return divide_by_255_rounded<L>(r * a + b * rest);
}

// round(y / 65025) for y up to 255 * 65025 (over's alpha) in 32-bit lanes,
// with F the float lanes of U's width: y + 32512 stays below 2^24, so it
// converts exactly, and its product with the float nearest 1 / 65025,
// rounded once to nearest (the layers' float environment) and truncated,
// is floor((y + 32512) / 65025), the rounded quotient, for every such y
// (the tests try them all). A remainder and its correction are not needed.
template <class F, class U> U divide_by_65025_rounded(U y) {
  using I = decltype(y < U{}); // the signed lanes of U's width
  const F product =
      __builtin_convertvector(std::bit_cast<I>(y + 32512), F) * (1.0F / 65025);
  return std::bit_cast<U>(__builtin_convertvector(product, I));
}

// The same as b + round(a d / 255) for d = r - b in -255..255 (a d / 255 is
// never a half: 255 is odd), where the kit multiplies with rounding
// (vpmulhrsw): round(d k / 2^15) for a multiplier k near a 2^15 / 255.
// No one formula of a gives a k that is exact for every d (the nearest
// integer to a 2^15 / 255 fails for 22 opacities), so each opacity's k is
// searched once, below, and checked against every d. Three instructions a
// vector (a subtraction, the multiply and an addition) where the products
// of both values by their weights take five.
constexpr bool difference_multiplier_exact(unsigned a, int k) {
  for (int d = -255; d <= 255; ++d) {
    const int a_d = static_cast<int>(a) * d;
    // The shift floors (arithmetically); round(a d / 255), halves up, is
    // floor((2 a d + 255) / 510), its numerator lifted by 256 * 510 so
    // that the division truncates a non-negative number.
    if (((d * k + (1 << 14)) >> 15) !=
        ((2 * a_d + 255 + 510 * 256) / 510 - 256)) {
      return false;
    }
  }
  return true;
}

struct DifferenceMultipliers {
  std::array<std::int16_t, 256> by_opacity{};
  bool complete = true;
};

inline constexpr DifferenceMultipliers kDifferenceMultipliers = [] {
  DifferenceMultipliers found;
  for (unsigned a = 0; a < 256; ++a) {
    // The exact k lie next to a 2^15 / 255 (at most 32767 for a = 255).
    const int below = std::min(static_cast<int>(a * 32768 / 255) - 1, 32764);
    int k = below;
    while (k <= below + 3 && !difference_multiplier_exact(a, k)) {
      ++k;
    }
    found.complete = found.complete && k <= below + 3;
    found.by_opacity[a] = static_cast<std::int16_t>(k);
  }
  return found;
}();
static_assert(kDifferenceMultipliers.complete);

template <class L, class W> W mix_words_by_difference(W r, W b, W multiplier) {
  return b + L::multiply_high_rounded(r - b, multiplier); // modulo 2^16
}

// The same for bytes r and b.
template <class L>
typename L::Bytes mix_with_opacity(typename L::Bytes r, typename L::Bytes b,
                                   unsigned a) {
  return L::on_words(r, b, [a](auto rw, auto bw) {
    using W = decltype(rw);
    return mix_words_with_opacity<L>(rw, bw, splat<W>(a), splat<W>(255 - a));
  });
}

// round(x / y) in 32-bit lanes, for 3 <= y < 2^24 and x <= 255 y (and
// y = 1 with x = 0, over's empty pixels), given `inverse`, 1 / y to within
// 2^-11 of it relative (an instruction set's reciprocal estimate will do;
// one per divisor, shared by the numerators over it). The estimate
// e = x * inverse, truncated, is off x / y by at most 255 * 2^-11 and the
// roundings; without AVX-512, which converts unsigned lanes in one
// instruction, x / 2 is converted, which takes up to 1 / y more off. Those
// stay below 1/2 together, and x / y lies in [q - 1/2, q + 1/2) for the
// rounded quotient q: e is q - 1 or q (never below 0). The remainder
// d = x - e y says which: q is e + 1 just where d >= y / 2, that is where
// d > (y - 1) / 2, truncated, compared as signed lanes (|d| < 2 y stays far
// below 2^31, whatever the products wrap past on the way). The tests try
// every y up to 2^24 with the numerators nearest each half.
template <class F, class U> U divide_rounded(U x, U y, F inverse) {
  using I = decltype(x < y); // the signed lanes of U's width
#if defined(__AVX512F__)
  const F estimate = __builtin_convertvector(x, F) * inverse;
#else
  // (An unsigned lane takes five instructions to convert, a signed one
  // one.)
  const F estimate = __builtin_convertvector(std::bit_cast<I>(x >> 1), F) *
                     (inverse + inverse);
#endif
  const U e = std::bit_cast<U>(__builtin_convertvector(estimate, I));
  const U below_half = (y - 1) >> 1;
  const U d = x - e * y;
  const I above = std::bit_cast<I>(d) > std::bit_cast<I>(below_half);
#if defined(__AVX512F__)
  return above ? e + 1 : e; // an add under the comparison's mask
#else
  return e - std::bit_cast<U>(above); // its lanes are -1 where true
#endif
}

} // namespace byteblend::BYTEBLEND_TARGET_NAMESPACE

#endif
