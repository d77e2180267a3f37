// SPDX-License-Identifier: MIT
// 16 bytes at a time with the SSE2 instructions that every x86-64 CPU has.
// The lane types are GCC vector types, so the formulas' operators (+, -, &,
// ^, >>, *, /, comparisons and ?:) apply lane by lane; intrinsics cover
// what has no operator. Tails are left to the scalar route.
#ifndef BYTEBLEND_LANES_SSE2_HPP
#define BYTEBLEND_LANES_SSE2_HPP

#include <emmintrin.h>

#include <bit>
#include <cstddef>
#include <cstdint>

#include "../target_namespace.hpp"
#include "normalized_scale.hpp"

namespace byteblend::BYTEBLEND_TARGET_NAMESPACE {

struct Sse2Lanes {
  typedef std::uint8_t Bytes __attribute__((vector_size(16)));
  typedef std::uint16_t Words __attribute__((vector_size(16)));
  typedef std::int32_t Ints __attribute__((vector_size(16)));
  typedef float Floats __attribute__((vector_size(16)));
  static constexpr std::ptrdiff_t kCount = 16;
  static constexpr bool kMaskedMemory = false;
  static constexpr bool kStreamingStores = true;

  static Bytes load(const std::uint8_t *p) {
    return std::bit_cast<Bytes>(
        _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
  }
  static void store(std::uint8_t *p, Bytes v) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(p), std::bit_cast<__m128i>(v));
  }
  // A store that bypasses the caches (movntdq), to a 16-byte aligned p;
  // fence() orders it before any later store.
  static void store_streaming(std::uint8_t *p, Bytes v) {
    _mm_stream_si128(reinterpret_cast<__m128i *>(p), std::bit_cast<__m128i>(v));
  }
  static void fence() { _mm_sfence(); }

  static Bytes add_saturate(Bytes a, Bytes b) {
    return std::bit_cast<Bytes>(
        _mm_adds_epu8(std::bit_cast<__m128i>(a), std::bit_cast<__m128i>(b)));
  }
  static Bytes subtract_saturate(Bytes a, Bytes b) {
    return std::bit_cast<Bytes>(
        _mm_subs_epu8(std::bit_cast<__m128i>(a), std::bit_cast<__m128i>(b)));
  }
  // (a + b + 1) / 2 rounded down: pavgb.
  static Bytes average_rounding_up(Bytes a, Bytes b) {
    return std::bit_cast<Bytes>(
        _mm_avg_epu8(std::bit_cast<__m128i>(a), std::bit_cast<__m128i>(b)));
  }

  template <class F> static Bytes on_words(Bytes x, Bytes y, F f) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i xv = std::bit_cast<__m128i>(x);
    const __m128i yv = std::bit_cast<__m128i>(y);
    const Words low = f(std::bit_cast<Words>(_mm_unpacklo_epi8(xv, zero)),
                        std::bit_cast<Words>(_mm_unpacklo_epi8(yv, zero)));
    const Words high = f(std::bit_cast<Words>(_mm_unpackhi_epi8(xv, zero)),
                         std::bit_cast<Words>(_mm_unpackhi_epi8(yv, zero)));
    return std::bit_cast<Bytes>(_mm_packus_epi16(std::bit_cast<__m128i>(low),
                                                 std::bit_cast<__m128i>(high)));
  }

  // Whether every byte is 0: a compare with zero and its mask.
  static bool every_lane_zero(Bytes v) {
    const __m128i zero_bytes =
        _mm_cmpeq_epi8(std::bit_cast<__m128i>(v), _mm_setzero_si128());
    return _mm_movemask_epi8(zero_bytes) == 0xFFFF;
  }

  // 255 in the lanes whose value is 128 or more, else 0.
  static Bytes where_at_least_128(Bytes v) {
    return std::bit_cast<Bytes>(v >= 128);
  }

  // 255 - v in the lanes whose selector is 128 or more, else v.
  static Bytes complement_where_at_least_128(Bytes v, Bytes selector) {
    return v ^ where_at_least_128(selector);
  }

  // Runs f on the 16-bit products x * y + c, for y and c at most 127, and
  // packs its words back to bytes as on_words does. (SSE2 has no byte
  // multiply-add: a word multiply and an addition.)
  template <class F>
  static Bytes on_products_plus(Bytes x, Bytes y, std::uint8_t c, F f) {
    return on_words(x, y, [c, &f](Words a, Words b) { return f(a * b + c); });
  }

  // The high 16 bits of each 32-bit product of 16-bit lanes.
  static Words multiply_high(Words a, std::uint16_t b) {
    return multiply_high(a, Words{} + b);
  }
  static Words multiply_high(Words a, Words b) {
    return std::bit_cast<Words>(
        _mm_mulhi_epu16(std::bit_cast<__m128i>(a), std::bit_cast<__m128i>(b)));
  }

  // (a + b + 1) / 2 rounded down, without overflow: pavgw.
  static Words average_rounding_up(Words a, Words b) {
    return std::bit_cast<Words>(
        _mm_avg_epu16(std::bit_cast<__m128i>(a), std::bit_cast<__m128i>(b)));
  }
  // The high 16 bits of each 32-bit product of the lanes read as signed.
  static Words multiply_high_signed(Words a, Words b) {
    return std::bit_cast<Words>(
        _mm_mulhi_epi16(std::bit_cast<__m128i>(a), std::bit_cast<__m128i>(b)));
  }

  // Runs f on the values as floats, a quarter of the lanes at a time; f
  // returns 32-bit integers, which come back as bytes clamped to 0..255.
  template <class F> static Bytes on_floats(Bytes x, Bytes y, F f) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i xv = std::bit_cast<__m128i>(x);
    const __m128i yv = std::bit_cast<__m128i>(y);
    const __m128i x_words[2] = {_mm_unpacklo_epi8(xv, zero),
                                _mm_unpackhi_epi8(xv, zero)};
    const __m128i y_words[2] = {_mm_unpacklo_epi8(yv, zero),
                                _mm_unpackhi_epi8(yv, zero)};
    __m128i quarters[4];
    for (int k = 0; k < 4; ++k) {
      const __m128i xw = x_words[k / 2];
      const __m128i yw = y_words[k / 2];
      const __m128i xi = (k % 2) != 0 ? _mm_unpackhi_epi16(xw, zero)
                                      : _mm_unpacklo_epi16(xw, zero);
      const __m128i yi = (k % 2) != 0 ? _mm_unpackhi_epi16(yw, zero)
                                      : _mm_unpacklo_epi16(yw, zero);
      quarters[k] = std::bit_cast<__m128i>(
          f(__builtin_convertvector(std::bit_cast<Ints>(xi), Floats),
            __builtin_convertvector(std::bit_cast<Ints>(yi), Floats)));
    }
    // Saturating packs: below 0 gives 0, above 255 gives 255.
    return std::bit_cast<Bytes>(
        _mm_packus_epi16(_mm_packs_epi32(quarters[0], quarters[1]),
                         _mm_packs_epi32(quarters[2], quarters[3])));
  }

  // The scale of the values that on_normalized_floats hands its formula.
  static constexpr float kNormalizedScale = kScaleOfCopies;

  // Runs f on x / 255 and y / 255, each correctly rounded and scaled by
  // kNormalizedScale, as on_floats runs it. The widening interleaves each
  // byte with itself and then with its zero-extended word, which puts it
  // into the low three bytes of its dword, x * 0x010101, and
  // normalized_from_copies (normalized_scale.hpp) takes it from there: a
  // multiply and an addition, where x / 255 takes a division.
  template <class F> static Bytes on_normalized_floats(Bytes x, Bytes y, F f) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i xv = std::bit_cast<__m128i>(x);
    const __m128i yv = std::bit_cast<__m128i>(y);
    // Words: zero-extended (x) and doubled (x * 0x0101).
    const __m128i x_words[2] = {_mm_unpacklo_epi8(xv, zero),
                                _mm_unpackhi_epi8(xv, zero)};
    const __m128i x_doubled[2] = {_mm_unpacklo_epi8(xv, xv),
                                  _mm_unpackhi_epi8(xv, xv)};
    const __m128i y_words[2] = {_mm_unpacklo_epi8(yv, zero),
                                _mm_unpackhi_epi8(yv, zero)};
    const __m128i y_doubled[2] = {_mm_unpacklo_epi8(yv, yv),
                                  _mm_unpackhi_epi8(yv, yv)};
    const auto normalized = [](__m128i copies) {
      return normalized_from_copies(
          std::bit_cast<Floats>(_mm_cvtepi32_ps(copies)));
    };
    __m128i quarters[4];
    for (int k = 0; k < 4; ++k) {
      const __m128i xd = x_doubled[k / 2];
      const __m128i xw = x_words[k / 2];
      const __m128i yd = y_doubled[k / 2];
      const __m128i yw = y_words[k / 2];
      const __m128i xi = (k % 2) != 0 ? _mm_unpackhi_epi16(xd, xw)
                                      : _mm_unpacklo_epi16(xd, xw);
      const __m128i yi = (k % 2) != 0 ? _mm_unpackhi_epi16(yd, yw)
                                      : _mm_unpacklo_epi16(yd, yw);
      quarters[k] = std::bit_cast<__m128i>(f(normalized(xi), normalized(yi)));
    }
    return std::bit_cast<Bytes>(
        _mm_packus_epi16(_mm_packs_epi32(quarters[0], quarters[1]),
                         _mm_packs_epi32(quarters[2], quarters[3])));
  }

  static Floats divide_by_255(Floats x) { return x / 255.0F; }
  // a where a < b, else b (also where either is a NaN), as MINPS does.
  static Floats lesser(Floats a, Floats b) {
    return std::bit_cast<Floats>(
        _mm_min_ps(std::bit_cast<__m128>(a), std::bit_cast<__m128>(b)));
  }
  // a * b + c, rounded twice: SSE2 has no fused multiply-add.
  static Floats multiply_add(Floats a, Floats b, Floats c) { return a * b + c; }
  // Toward zero; infinities, NaNs and values out of range give INT32_MIN.
  static Ints truncate(Floats x) {
    return std::bit_cast<Ints>(_mm_cvttps_epi32(std::bit_cast<__m128>(x)));
  }
};

} // namespace byteblend::BYTEBLEND_TARGET_NAMESPACE

#endif
