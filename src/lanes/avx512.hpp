// SPDX-License-Identifier: MIT
// 64 bytes at a time with AVX-512 BW. Byte-masked loads and stores let the
// tails and the channel kernels touch exactly the bytes they visit: a lane
// outside the mask is neither read (it cannot fault) nor written.
#ifndef BYTEBLEND_LANES_AVX512_HPP
#define BYTEBLEND_LANES_AVX512_HPP

#include <immintrin.h>

#include <bit>
#include <cstddef>
#include <cstdint>

#include "fma_division.hpp"

namespace byteblend::BYTEBLEND_TARGET_NAMESPACE {

struct Avx512Lanes {
  typedef std::uint8_t Bytes __attribute__((vector_size(64)));
  typedef std::uint16_t Words __attribute__((vector_size(64)));
  typedef std::int32_t Ints __attribute__((vector_size(64)));
  typedef float Floats __attribute__((vector_size(64)));
  using Mask = __mmask64;
  static constexpr std::ptrdiff_t kCount = 64;
  static constexpr bool kMaskedMemory = true;
  static constexpr bool kStreamingStores = true;

  static Bytes load(const std::uint8_t *p) {
    return std::bit_cast<Bytes>(_mm512_loadu_si512(p));
  }
  static void store(std::uint8_t *p, Bytes v) {
    _mm512_storeu_si512(p, std::bit_cast<__m512i>(v));
  }
  // Lanes outside the mask read as zero.
  static Bytes load(const std::uint8_t *p, Mask lanes) {
    return std::bit_cast<Bytes>(_mm512_maskz_loadu_epi8(lanes, p));
  }
  static void store(std::uint8_t *p, Bytes v, Mask lanes) {
    _mm512_mask_storeu_epi8(p, lanes, std::bit_cast<__m512i>(v));
  }
  // A store that bypasses the caches, to a 64-byte aligned p: one whole
  // cache line. fence() orders it before any later store.
  static void store_streaming(std::uint8_t *p, Bytes v) {
    _mm512_stream_si512(reinterpret_cast<__m512i *>(p),
                        std::bit_cast<__m512i>(v));
  }
  static void fence() { _mm_sfence(); }

  // The first `count` lanes, count > 0.
  static Mask first_lanes(std::ptrdiff_t count) {
    return count >= kCount ? ~Mask{0} : (Mask{1} << count) - 1;
  }
  // The lanes j with j = phase modulo 3.
  static Mask every_third_lane(std::ptrdiff_t phase) {
    constexpr Mask kLanesDivisibleBy3 = 0x9249249249249249ULL;
    return kLanesDivisibleBy3 << (((phase % 3) + 3) % 3);
  }

  static Bytes add_saturate(Bytes a, Bytes b) {
    return std::bit_cast<Bytes>(
        _mm512_adds_epu8(std::bit_cast<__m512i>(a), std::bit_cast<__m512i>(b)));
  }
  static Bytes subtract_saturate(Bytes a, Bytes b) {
    return std::bit_cast<Bytes>(
        _mm512_subs_epu8(std::bit_cast<__m512i>(a), std::bit_cast<__m512i>(b)));
  }
  // (a + b + 1) / 2 rounded down: vpavgb.
  static Bytes average_rounding_up(Bytes a, Bytes b) {
    return std::bit_cast<Bytes>(
        _mm512_avg_epu8(std::bit_cast<__m512i>(a), std::bit_cast<__m512i>(b)));
  }

  // Unpacking and packing both work within 128-bit quarters, so packing the
  // two unpacked halves restores the original order.
  template <class F> static Bytes on_words(Bytes x, Bytes y, F f) {
    const __m512i zero = _mm512_setzero_si512();
    const __m512i xv = std::bit_cast<__m512i>(x);
    const __m512i yv = std::bit_cast<__m512i>(y);
    const Words low = f(std::bit_cast<Words>(_mm512_unpacklo_epi8(xv, zero)),
                        std::bit_cast<Words>(_mm512_unpacklo_epi8(yv, zero)));
    const Words high = f(std::bit_cast<Words>(_mm512_unpackhi_epi8(xv, zero)),
                         std::bit_cast<Words>(_mm512_unpackhi_epi8(yv, zero)));
    return std::bit_cast<Bytes>(_mm512_packus_epi16(
        std::bit_cast<__m512i>(low), std::bit_cast<__m512i>(high)));
  }

  // Whether every byte is 0: one test into a mask.
  static bool every_lane_zero(Bytes v) {
    const __m512i lanes = std::bit_cast<__m512i>(v);
    return _mm512_test_epi64_mask(lanes, lanes) == 0;
  }

  // 255 in the lanes whose value is 128 or more, else 0.
  static Bytes where_at_least_128(Bytes v) {
    return std::bit_cast<Bytes>(v >= 128);
  }

  // 255 - v in the lanes whose selector is 128 or more, else v: a
  // subtraction from 255 under the mask of the selectors' high bits.
  static Bytes complement_where_at_least_128(Bytes v, Bytes selector) {
    const __m512i vv = std::bit_cast<__m512i>(v);
    return std::bit_cast<Bytes>(_mm512_mask_sub_epi8(
        vv, _mm512_movepi8_mask(std::bit_cast<__m512i>(selector)),
        _mm512_set1_epi8(-1), vv));
  }

  // Runs f on the 16-bit products x * y + c, for y and c at most 127, and
  // packs its words back to bytes as on_words does. One byte multiply-add
  // (vpmaddubsw) forms each: x and c interleaved as unsigned bytes, y and 1
  // as signed ones, so y and c must fit a signed byte; x * y + c < 2^15
  // then, and the sum never saturates.
  template <class F>
  static Bytes on_products_plus(Bytes x, Bytes y, std::uint8_t c, F f) {
    const __m512i xv = std::bit_cast<__m512i>(x);
    const __m512i yv = std::bit_cast<__m512i>(y);
    const __m512i cs = _mm512_set1_epi8(static_cast<char>(c));
    const __m512i ones = _mm512_set1_epi8(1);
    const Words low = f(std::bit_cast<Words>(_mm512_maddubs_epi16(
        _mm512_unpacklo_epi8(xv, cs), _mm512_unpacklo_epi8(yv, ones))));
    const Words high = f(std::bit_cast<Words>(_mm512_maddubs_epi16(
        _mm512_unpackhi_epi8(xv, cs), _mm512_unpackhi_epi8(yv, ones))));
    return std::bit_cast<Bytes>(_mm512_packus_epi16(
        std::bit_cast<__m512i>(low), std::bit_cast<__m512i>(high)));
  }

  // The high 16 bits of each 32-bit product of 16-bit lanes.
  static Words multiply_high(Words a, std::uint16_t b) {
    return multiply_high(a, Words{} + b);
  }
  static Words multiply_high(Words a, Words b) {
    return std::bit_cast<Words>(_mm512_mulhi_epu16(std::bit_cast<__m512i>(a),
                                                   std::bit_cast<__m512i>(b)));
  }
  // (a + b + 1) / 2 rounded down, without overflow: pavgw.
  static Words average_rounding_up(Words a, Words b) {
    return std::bit_cast<Words>(
        _mm512_avg_epu16(std::bit_cast<__m512i>(a), std::bit_cast<__m512i>(b)));
  }
  // The high 16 bits of each 32-bit product of the lanes read as signed.
  static Words multiply_high_signed(Words a, Words b) {
    return std::bit_cast<Words>(_mm512_mulhi_epi16(std::bit_cast<__m512i>(a),
                                                   std::bit_cast<__m512i>(b)));
  }
  // a b / 2^15 of the lanes read as signed, rounded to nearest with halves
  // up, (a b + 2^14) >> 15: vpmulhrsw.
  static Words multiply_high_rounded(Words a, Words b) {
    return std::bit_cast<Words>(_mm512_mulhrs_epi16(std::bit_cast<__m512i>(a),
                                                    std::bit_cast<__m512i>(b)));
  }

  // Runs f on the values as floats, a quarter of the lanes at a time; f
  // returns 32-bit integers, which come back as bytes clamped to 0..255.
  // One byte shuffle widens each quarter: quarter j holds bytes 4j..4j+3 of
  // every 128-bit lane, and the saturating packs, which also work within
  // 128-bit lanes, put them back in their places.
  template <class F> static Bytes on_floats(Bytes x, Bytes y, F f) {
    const __m512i xv = std::bit_cast<__m512i>(x);
    const __m512i yv = std::bit_cast<__m512i>(y);
    __m512i quarters[4];
    for (int j = 0; j < 4; ++j) {
      const __m512i widen = quarter_of_each_lane(j);
      quarters[j] = std::bit_cast<__m512i>(
          f(__builtin_convertvector(
                std::bit_cast<Ints>(_mm512_shuffle_epi8(xv, widen)), Floats),
            __builtin_convertvector(
                std::bit_cast<Ints>(_mm512_shuffle_epi8(yv, widen)), Floats)));
    }
    return std::bit_cast<Bytes>(
        _mm512_packus_epi16(_mm512_packs_epi32(quarters[0], quarters[1]),
                            _mm512_packs_epi32(quarters[2], quarters[3])));
  }

  // The shuffle that puts byte 4j + m of each 128-bit lane into the low
  // byte of the lane's dword m and zeroes the rest (an index with its high
  // bit set selects zero).
  static __m512i quarter_of_each_lane(int j) {
    constexpr int kZeroes = static_cast<int>(0x80808000U);
    return _mm512_set4_epi32(kZeroes | (4 * j + 3), kZeroes | (4 * j + 2),
                             kZeroes | (4 * j + 1), kZeroes | (4 * j));
  }

  // The scale of the values that on_normalized_floats hands its formula.
  static constexpr float kNormalizedScale = 0x1p32F;

  // Runs f on x / 255 and y / 255, each correctly rounded and scaled by
  // kNormalizedScale, as on_floats runs it but with no arithmetic
  // beyond the widening. In binary, x / 255 is x times 0x1.010101...p-8,
  // the byte repeated without end. The widening shuffle repeats each byte
  // into all four bytes of its dword, x * 0x01010101: that expansion cut
  // after four copies, scaled by 2^32. For x of k bits (1..8) the value
  // has 24 + k bits, and a float keeps 24: the conversion drops the last
  // copy of x, at least half of the last kept place, and the copies beyond
  // the cut make the dropped part of x / 255 more than half, so x / 255
  // rounds up to nearest (normalized_scale.hpp). Converting with rounding
  // upward does the same (to nearest, the conversion would see an exact tie for
  // x a power of two and round down); zero stays zero. The rounding is the
  // instruction's own, whatever MXCSR says. The exhaustive tests confirm it for
  // every byte. The value needs all 32 bits, hence the unsigned conversion.
  template <class F> static Bytes on_normalized_floats(Bytes x, Bytes y, F f) {
    const __m512i xv = std::bit_cast<__m512i>(x);
    const __m512i yv = std::bit_cast<__m512i>(y);
    // The zero-masking form keeps GCC 12 from warning about the undefined
    // source of the plain one.
    const auto normalized = [](__m512i repeated) {
      constexpr __mmask16 kAll = 0xFFFF;
      return std::bit_cast<Floats>(_mm512_maskz_cvt_roundepu32_ps(
          kAll, repeated, _MM_FROUND_TO_POS_INF | _MM_FROUND_NO_EXC));
    };
    __m512i quarters[4];
    for (int j = 0; j < 4; ++j) {
      const __m512i repeat = quarter_of_each_lane_repeated(j);
      quarters[j] = std::bit_cast<__m512i>(
          f(normalized(_mm512_shuffle_epi8(xv, repeat)),
            normalized(_mm512_shuffle_epi8(yv, repeat))));
    }
    return std::bit_cast<Bytes>(
        _mm512_packus_epi16(_mm512_packs_epi32(quarters[0], quarters[1]),
                            _mm512_packs_epi32(quarters[2], quarters[3])));
  }

  // The shuffle that puts byte 4j + m of each 128-bit lane into all four
  // bytes of the lane's dword m.
  static __m512i quarter_of_each_lane_repeated(int j) {
    constexpr int kEveryByte = 0x01010101;
    return _mm512_set4_epi32(kEveryByte * (4 * j + 3), kEveryByte * (4 * j + 2),
                             kEveryByte * (4 * j + 1), kEveryByte * (4 * j));
  }

  static Floats divide_by_255(Floats x) {
    return divide_by_255_with_fma(x, [](Floats a, Floats b, Floats c) {
      return std::bit_cast<Floats>(_mm512_fmadd_ps(std::bit_cast<__m512>(a),
                                                   std::bit_cast<__m512>(b),
                                                   std::bit_cast<__m512>(c)));
    });
  }
  // a where a < b, else b (also where either is a NaN), as MINPS does.
  static Floats lesser(Floats a, Floats b) {
    constexpr __mmask16 kAll = 0xFFFF;
    return std::bit_cast<Floats>(_mm512_maskz_min_ps(
        kAll, std::bit_cast<__m512>(a), std::bit_cast<__m512>(b)));
  }
  // a * b + c, rounded once.
  static Floats multiply_add(Floats a, Floats b, Floats c) {
    return std::bit_cast<Floats>(_mm512_fmadd_ps(std::bit_cast<__m512>(a),
                                                 std::bit_cast<__m512>(b),
                                                 std::bit_cast<__m512>(c)));
  }
  // Toward zero; infinities, NaNs and values out of range give INT32_MIN.
  // The zero-masking form keeps GCC 12 from warning about the undefined
  // source of the plain one.
  static Ints truncate(Floats x) {
    constexpr __mmask16 kAll = 0xFFFF;
    return std::bit_cast<Ints>(
        _mm512_maskz_cvttps_epi32(kAll, std::bit_cast<__m512>(x)));
  }
};

} // namespace byteblend::BYTEBLEND_TARGET_NAMESPACE

#endif
