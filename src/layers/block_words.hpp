// SPDX-License-Identifier: MIT
// A block of pixels as 16-bit lanes, two a pixel for its even bytes
// (red and blue) and two for its odd bytes (green and alpha): a mask and a
// shift apart from the pixels, where unpacking and packing would take the
// shuffle unit twice over. WordLanes runs the integer formulas on such
// lanes, so that a composite mixes the mode's values without packing them
// into bytes first.
#ifndef BYTEBLEND_LAYERS_BLOCK_WORDS_HPP
#define BYTEBLEND_LAYERS_BLOCK_WORDS_HPP

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "../clamp.hpp"
#include "rounding.hpp"

namespace byteblend::BYTEBLEND_TARGET_NAMESPACE {

// A block is one register of the instruction set: 16 pixels with AVX-512,
// 8 with AVX2, 4 with SSE2. As 64 bytes everywhere, it took four SSE2 or
// two AVX2 registers a value, more than the sixteen there are could hold:
// the compiler kept most of a block's values in memory.
#if defined(__AVX512F__)
constexpr std::size_t kBlockBytes = 64;
#elif defined(__AVX2__)
constexpr std::size_t kBlockBytes = 32;
#else
constexpr std::size_t kBlockBytes = 16;
#endif

// A block's pixels, one 32-bit lane each; and the same as 16-bit lanes.
typedef std::uint32_t Pixels32 __attribute__((vector_size(kBlockBytes)));
typedef std::uint16_t PixelWords __attribute__((vector_size(kBlockBytes)));

[[gnu::always_inline]] inline PixelWords even_bytes(Pixels32 pixels) {
  return std::bit_cast<PixelWords>(pixels & 0x00FF00FFU);
}
[[gnu::always_inline]] inline PixelWords odd_bytes(Pixels32 pixels) {
  return std::bit_cast<PixelWords>(pixels) >> 8;
}
// The pixels again from their even and odd bytes (each at most 255).
[[gnu::always_inline]] inline Pixels32 from_bytes(PixelWords even,
                                                  PixelWords odd) {
  return std::bit_cast<Pixels32>(even | (odd << 8));
}

// f on a block's bytes as the instruction set's vectors of type Part
// (its byte or its 16-bit vectors), part by part. Called as it is: a
// wrapper per kind of part changed the compiler's inlining around it, and
// with it the code of the loops.
template <class Part, class V, class F>
[[gnu::always_inline]] inline V on_parts(V x, V y, F f) {
  static_assert(sizeof(V) == kBlockBytes, "a block's bytes");
  constexpr std::size_t kParts = kBlockBytes / sizeof(Part);
  using Parts = std::array<Part, kParts>;
  const auto xs = std::bit_cast<Parts>(x);
  const auto ys = std::bit_cast<Parts>(y);
  Parts results{};
  for (std::size_t k = 0; k < kParts; ++k) {
    results[k] = f(xs[k], ys[k]);
  }
  return std::bit_cast<V>(results);
}

template <class L>
[[gnu::always_inline]] inline PixelWords multiply_high_signed(PixelWords x,
                                                              PixelWords y) {
  return on_parts<typename L::Words>(
      x, y, [](auto xs, auto ys) { return L::multiply_high_signed(xs, ys); });
}

template <class L>
[[gnu::always_inline]] inline PixelWords
multiply_high_unsigned(PixelWords x, std::uint16_t y) {
  return on_parts<typename L::Words>(
      x, x, [y](auto xs, auto /*unused*/) { return L::multiply_high(xs, y); });
}

// The lane kit L over PixelWords holding one byte value each, for the
// formulas that compute in integers. on_words needs no unpacking here, and
// returns f's words as they are: those formulas keep them within 0..255
// (their comments say why), which the byte kits' packing would clamp to.
template <class L> struct WordLanes {
  using Bytes = PixelWords;
  using Words = PixelWords;

  [[gnu::always_inline]] static Bytes add_saturate(Bytes a, Bytes b) {
    return minimum(a + b, splat<Bytes>(255));
  }
  [[gnu::always_inline]] static Bytes subtract_saturate(Bytes a, Bytes b) {
    return maximum(a, b) - b;
  }
  [[gnu::always_inline]] static Bytes average_rounding_up(Bytes a, Bytes b) {
    return (a + b + 1) >> 1;
  }
  [[gnu::always_inline]] static Bytes where_at_least_128(Bytes v) {
    return std::bit_cast<Bytes>(v >= 128) & 255;
  }
  template <class F>
  [[gnu::always_inline]] static Bytes on_words(Bytes x, Bytes y, F f) {
    return f(x, y);
  }
  [[gnu::always_inline]] static Bytes
  complement_where_at_least_128(Bytes v, Bytes selector) {
    return v ^ where_at_least_128(selector);
  }
  // x y + c fits a 16-bit lane: y and c are at most 127.
  template <class F>
  [[gnu::always_inline]] static Bytes on_products_plus(Bytes x, Bytes y,
                                                       std::uint16_t c, F f) {
    return f(x * y + c);
  }
  [[gnu::always_inline]] static Words multiply_high(Words a, std::uint16_t b) {
    return multiply_high_unsigned<L>(a, b);
  }
};

// Atop's colour round((P r + (65025 - P) b) / 65025) in 16-bit lanes: it is
// b + round(P d / 65025) for d = r - b, and P d needs 25 bits. The weight
// scaled to 2^15, s (scaled_weight), gives the estimate
// e = floor(s * 2 d / 2^16), close enough that the remainder
// x = P d - 65025 e lies in -255..65280. Modulo 2^16 that remainder is
// P d + 511 e, which 16-bit lanes compute exactly, and x + 255 has its top
// bit set just where x >= 32513, where the rounded quotient is e + 1
// rather than e. The tests try every P = At a and d.
// s = (P + floor(P * k / 2^16) + 1) / 2 with k = 515, within a half of
// P * 2^15 / 65025, and at most 32767 for every P = At a up to 255 * 254.
// P = 65025 (a = 255) would give 2^15, one too many for a signed lane.
// The factor is chosen per opacity instead: at opacity 255, where every P
// is 255 At, k = 514 gives 32767 there and is close enough for the others.
// (A clamp to 32767 would cost the loop an instruction and a constant.)
constexpr std::uint16_t weight_scale_factor(unsigned opacity) {
  return opacity == 255 ? 514 : 515;
}

template <class L>
[[gnu::always_inline]] inline PixelWords scaled_weight(PixelWords weight,
                                                       std::uint16_t k) {
  return on_parts<typename L::Words>(
      weight, multiply_high_unsigned<L>(weight, k),
      [](auto ws, auto hs) { return L::average_rounding_up(ws, hs); });
}

template <class L>
[[gnu::always_inline]] inline PixelWords mix_words(PixelWords r, PixelWords b,
                                                   PixelWords weight,
                                                   PixelWords scaled_weight) {
  const PixelWords d = r - b; // modulo 2^16, as every step here
  const PixelWords e = multiply_high_signed<L>(scaled_weight, d + d);
  const PixelWords x = weight * d + e * 511;
  return b + e + ((x + 255) >> 15);
}

} // namespace byteblend::BYTEBLEND_TARGET_NAMESPACE

#endif
