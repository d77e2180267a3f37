// SPDX-License-Identifier: MIT
// 32 bytes at a time with AVX2 and FMA. Like the SSE2 kit, but twice as
// wide and normalizing with fused multiply-adds instead of a division.
// Tails are left to the scalar route.
#ifndef BYTEBLEND_LANES_AVX2_HPP
#define BYTEBLEND_LANES_AVX2_HPP

#include <immintrin.h>

#include <bit>
#include <cstddef>
#include <cstdint>

#include "fma_division.hpp"
#include "normalized_scale.hpp"

namespace byteblend::BYTEBLEND_TARGET_NAMESPACE {

struct Avx2Lanes {
  typedef std::uint8_t Bytes __attribute__((vector_size(32)));
  typedef std::uint16_t Words __attribute__((vector_size(32)));
  typedef std::int32_t Ints __attribute__((vector_size(32)));
  typedef float Floats __attribute__((vector_size(32)));
  static constexpr std::ptrdiff_t kCount = 32;
  static constexpr bool kMaskedMemory = false;
  static constexpr bool kStreamingStores = true;

  static Bytes load(const std::uint8_t *p) {
    return std::bit_cast<Bytes>(
        _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p)));
  }
  static void store(std::uint8_t *p, Bytes v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(p),
                        std::bit_cast<__m256i>(v));
  }
  // A store that bypasses the caches, to a 32-byte aligned p; fence()
  // orders it before any later store.
  static void store_streaming(std::uint8_t *p, Bytes v) {
    _mm256_stream_si256(reinterpret_cast<__m256i *>(p),
                        std::bit_cast<__m256i>(v));
  }
  static void fence() { _mm_sfence(); }

  static Bytes add_saturate(Bytes a, Bytes b) {
    return std::bit_cast<Bytes>(
        _mm256_adds_epu8(std::bit_cast<__m256i>(a), std::bit_cast<__m256i>(b)));
  }
  static Bytes subtract_saturate(Bytes a, Bytes b) {
    return std::bit_cast<Bytes>(
        _mm256_subs_epu8(std::bit_cast<__m256i>(a), std::bit_cast<__m256i>(b)));
  }
  // (a + b + 1) / 2 rounded down: vpavgb.
  static Bytes average_rounding_up(Bytes a, Bytes b) {
    return std::bit_cast<Bytes>(
        _mm256_avg_epu8(std::bit_cast<__m256i>(a), std::bit_cast<__m256i>(b)));
  }

  // Unpacking and packing both work within 128-bit halves, so packing the
  // two unpacked halves restores the original order.
  template <class F> static Bytes on_words(Bytes x, Bytes y, F f) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i xv = std::bit_cast<__m256i>(x);
    const __m256i yv = std::bit_cast<__m256i>(y);
    const Words low = f(std::bit_cast<Words>(_mm256_unpacklo_epi8(xv, zero)),
                        std::bit_cast<Words>(_mm256_unpacklo_epi8(yv, zero)));
    const Words high = f(std::bit_cast<Words>(_mm256_unpackhi_epi8(xv, zero)),
                         std::bit_cast<Words>(_mm256_unpackhi_epi8(yv, zero)));
    return std::bit_cast<Bytes>(_mm256_packus_epi16(
        std::bit_cast<__m256i>(low), std::bit_cast<__m256i>(high)));
  }

  // Whether every byte is 0: vptest.
  static bool every_lane_zero(Bytes v) {
    const __m256i lanes = std::bit_cast<__m256i>(v);
    return _mm256_testz_si256(lanes, lanes) != 0;
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
  // packs its words back to bytes as on_words does. One byte multiply-add
  // (vpmaddubsw) forms each: x and c interleaved as unsigned bytes, y and 1
  // as signed ones, so y and c must fit a signed byte; x * y + c < 2^15
  // then, and the sum never saturates.
  template <class F>
  static Bytes on_products_plus(Bytes x, Bytes y, std::uint8_t c, F f) {
    const __m256i xv = std::bit_cast<__m256i>(x);
    const __m256i yv = std::bit_cast<__m256i>(y);
    const __m256i cs = _mm256_set1_epi8(static_cast<char>(c));
    const __m256i ones = _mm256_set1_epi8(1);
    const Words low = f(std::bit_cast<Words>(_mm256_maddubs_epi16(
        _mm256_unpacklo_epi8(xv, cs), _mm256_unpacklo_epi8(yv, ones))));
    const Words high = f(std::bit_cast<Words>(_mm256_maddubs_epi16(
        _mm256_unpackhi_epi8(xv, cs), _mm256_unpackhi_epi8(yv, ones))));
    return std::bit_cast<Bytes>(_mm256_packus_epi16(
        std::bit_cast<__m256i>(low), std::bit_cast<__m256i>(high)));
  }

  // The high 16 bits of each 32-bit product of 16-bit lanes.
  static Words multiply_high(Words a, std::uint16_t b) {
    return multiply_high(a, Words{} + b);
  }
  static Words multiply_high(Words a, Words b) {
    return std::bit_cast<Words>(_mm256_mulhi_epu16(std::bit_cast<__m256i>(a),
                                                   std::bit_cast<__m256i>(b)));
  }
  // (a + b + 1) / 2 rounded down, without overflow: pavgw.
  static Words average_rounding_up(Words a, Words b) {
    return std::bit_cast<Words>(
        _mm256_avg_epu16(std::bit_cast<__m256i>(a), std::bit_cast<__m256i>(b)));
  }
  // The high 16 bits of each 32-bit product of the lanes read as signed.
  static Words multiply_high_signed(Words a, Words b) {
    return std::bit_cast<Words>(_mm256_mulhi_epi16(std::bit_cast<__m256i>(a),
                                                   std::bit_cast<__m256i>(b)));
  }
  // a b / 2^15 of the lanes read as signed, rounded to nearest with halves
  // up, (a b + 2^14) >> 15: vpmulhrsw.
  static Words multiply_high_rounded(Words a, Words b) {
    return std::bit_cast<Words>(_mm256_mulhrs_epi16(std::bit_cast<__m256i>(a),
                                                    std::bit_cast<__m256i>(b)));
  }

  // Runs f on the values as floats, a quarter of the lanes at a time; f
  // returns 32-bit integers, which come back as bytes clamped to 0..255.
  // One byte shuffle widens each quarter: quarter j holds bytes 4j..4j+3 of
  // both 128-bit halves, and the saturating packs, which also work within
  // 128-bit halves, put them back in their places.
  template <class F> static Bytes on_floats(Bytes x, Bytes y, F f) {
    const __m256i xv = std::bit_cast<__m256i>(x);
    const __m256i yv = std::bit_cast<__m256i>(y);
    __m256i quarters[4];
    for (int j = 0; j < 4; ++j) {
      const __m256i widen = quarter_of_each_half(j);
      quarters[j] = std::bit_cast<__m256i>(
          f(std::bit_cast<Floats>(
                _mm256_cvtepi32_ps(_mm256_shuffle_epi8(xv, widen))),
            std::bit_cast<Floats>(
                _mm256_cvtepi32_ps(_mm256_shuffle_epi8(yv, widen)))));
    }
    return std::bit_cast<Bytes>(
        _mm256_packus_epi16(_mm256_packs_epi32(quarters[0], quarters[1]),
                            _mm256_packs_epi32(quarters[2], quarters[3])));
  }

  // The shuffle that puts byte 4j + m of each 128-bit half into the low
  // byte of the half's dword m and zeroes the rest (an index with its high
  // bit set selects zero).
  static __m256i quarter_of_each_half(int j) {
    constexpr int kZeroes = static_cast<int>(0x80808000U);
    const __m128i half =
        _mm_setr_epi32(kZeroes | (4 * j), kZeroes | (4 * j + 1),
                       kZeroes | (4 * j + 2), kZeroes | (4 * j + 3));
    return _mm256_broadcastsi128_si256(half);
  }

  // The scale of the values that on_normalized_floats hands its formula.
  static constexpr float kNormalizedScale = kScaleOfCopies;

  // Runs f on x / 255 and y / 255, each correctly rounded and scaled by
  // kNormalizedScale, as on_floats runs it. The widening shuffle copies each
  // byte into the low three bytes of its dword, x * 0x010101, and the rest
  // is normalized_from_copies (normalized_scale.hpp) in one fused
  // multiply-add, where x / 255 takes a multiply and a fused multiply-add.
  template <class F> static Bytes on_normalized_floats(Bytes x, Bytes y, F f) {
    const __m256i xv = std::bit_cast<__m256i>(x);
    const __m256i yv = std::bit_cast<__m256i>(y);
    const auto normalized = [](__m256i copies) {
      const Floats w = std::bit_cast<Floats>(_mm256_cvtepi32_ps(copies));
      return multiply_add(w, Floats{} + 1.0F / kScaleOfCopies, w);
    };
    __m256i quarters[4];
    for (int j = 0; j < 4; ++j) {
      const __m256i copy = quarter_of_each_half_copied(j);
      quarters[j] =
          std::bit_cast<__m256i>(f(normalized(_mm256_shuffle_epi8(xv, copy)),
                                   normalized(_mm256_shuffle_epi8(yv, copy))));
    }
    return std::bit_cast<Bytes>(
        _mm256_packus_epi16(_mm256_packs_epi32(quarters[0], quarters[1]),
                            _mm256_packs_epi32(quarters[2], quarters[3])));
  }

  // The shuffle that puts byte 4j + m of each 128-bit half into the low
  // three bytes of the half's dword m and zeroes the high byte.
  static __m256i quarter_of_each_half_copied(int j) {
    constexpr int kHighByteZero = static_cast<int>(0x80000000U);
    constexpr int kLowThreeBytes = 0x010101;
    const auto index = [](int byte) {
      return kHighByteZero | (kLowThreeBytes * byte);
    };
    const __m128i half = _mm_setr_epi32(index(4 * j), index(4 * j + 1),
                                        index(4 * j + 2), index(4 * j + 3));
    return _mm256_broadcastsi128_si256(half);
  }

  static Floats divide_by_255(Floats x) {
    return divide_by_255_with_fma(x, [](Floats a, Floats b, Floats c) {
      return std::bit_cast<Floats>(_mm256_fmadd_ps(std::bit_cast<__m256>(a),
                                                   std::bit_cast<__m256>(b),
                                                   std::bit_cast<__m256>(c)));
    });
  }
  // a where a < b, else b (also where either is a NaN), as MINPS does.
  static Floats lesser(Floats a, Floats b) {
    return std::bit_cast<Floats>(
        _mm256_min_ps(std::bit_cast<__m256>(a), std::bit_cast<__m256>(b)));
  }
  // a * b + c, rounded once.
  static Floats multiply_add(Floats a, Floats b, Floats c) {
    return std::bit_cast<Floats>(_mm256_fmadd_ps(std::bit_cast<__m256>(a),
                                                 std::bit_cast<__m256>(b),
                                                 std::bit_cast<__m256>(c)));
  }
  // Toward zero; infinities, NaNs and values out of range give INT32_MIN.
  static Ints truncate(Floats x) {
    return std::bit_cast<Ints>(_mm256_cvttps_epi32(std::bit_cast<__m256>(x)));
  }
};

} // namespace byteblend::BYTEBLEND_TARGET_NAMESPACE

#endif
