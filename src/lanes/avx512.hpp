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

// Lane indices for __builtin_shufflevector.
#define BYTEBLEND_LANES_16(n)                                                  \
  (n), (n) + 1, (n) + 2, (n) + 3, (n) + 4, (n) + 5, (n) + 6, (n) + 7, (n) + 8, \
      (n) + 9, (n) + 10, (n) + 11, (n) + 12, (n) + 13, (n) + 14, (n) + 15
#define BYTEBLEND_LANES_0_TO_31 BYTEBLEND_LANES_16(0), BYTEBLEND_LANES_16(16)
#define BYTEBLEND_LANES_32_TO_63 BYTEBLEND_LANES_16(32), BYTEBLEND_LANES_16(48)
// Bytes 16 k to 16 k + 15 of a 64-byte vector.
#define BYTEBLEND_QUARTER(v, k)                                                \
  __builtin_shufflevector(v, v, BYTEBLEND_LANES_16(16 * (k)))

namespace byteblend::BYTEBLEND_TARGET_NAMESPACE {

struct Avx512Lanes {
  typedef std::uint8_t Bytes __attribute__((vector_size(64)));
  typedef std::uint16_t Words __attribute__((vector_size(64)));
  typedef std::int32_t Ints __attribute__((vector_size(64)));
  typedef float Floats __attribute__((vector_size(64)));
  typedef std::uint8_t Quarter __attribute__((vector_size(16)));
  typedef std::uint8_t Half __attribute__((vector_size(32)));
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

  // 255 in the lanes whose value is 128 or more, else 0.
  static Bytes where_at_least_128(Bytes v) {
    return std::bit_cast<Bytes>(v >= 128);
  }

  // The high 16 bits of each 32-bit product of 16-bit lanes.
  static Words multiply_high(Words a, std::uint16_t b) {
    return std::bit_cast<Words>(_mm512_mulhi_epu16(
        std::bit_cast<__m512i>(a), _mm512_set1_epi16(static_cast<short>(b))));
  }

  template <class F> static Bytes on_floats(Bytes x, Bytes y, F f) {
    // vpmovzxbd and vpmovdb; the zero-masking forms keep GCC 12 from
    // warning about the undefined source of the plain ones, and GCC's own
    // vector conversions would go lane by lane.
    const auto quarter = [&f](Quarter xq, Quarter yq) {
      constexpr __mmask16 kAll = 0xFFFF;
      const Ints xi = std::bit_cast<Ints>(
          _mm512_maskz_cvtepu8_epi32(kAll, std::bit_cast<__m128i>(xq)));
      const Ints yi = std::bit_cast<Ints>(
          _mm512_maskz_cvtepu8_epi32(kAll, std::bit_cast<__m128i>(yq)));
      const Ints r = f(__builtin_convertvector(xi, Floats),
                       __builtin_convertvector(yi, Floats));
      return std::bit_cast<Quarter>(
          _mm512_maskz_cvtepi32_epi8(kAll, std::bit_cast<__m512i>(r)));
    };
    const Quarter q0 =
        quarter(BYTEBLEND_QUARTER(x, 0), BYTEBLEND_QUARTER(y, 0));
    const Quarter q1 =
        quarter(BYTEBLEND_QUARTER(x, 1), BYTEBLEND_QUARTER(y, 1));
    const Quarter q2 =
        quarter(BYTEBLEND_QUARTER(x, 2), BYTEBLEND_QUARTER(y, 2));
    const Quarter q3 =
        quarter(BYTEBLEND_QUARTER(x, 3), BYTEBLEND_QUARTER(y, 3));
    const Half low = __builtin_shufflevector(q0, q1, BYTEBLEND_LANES_0_TO_31);
    const Half high = __builtin_shufflevector(q2, q3, BYTEBLEND_LANES_0_TO_31);
    return __builtin_shufflevector(low, high, BYTEBLEND_LANES_0_TO_31,
                                   BYTEBLEND_LANES_32_TO_63);
  }

  static Floats divide_by_255(Floats x) {
    return divide_by_255_with_fma(x, [](Floats a, Floats b, Floats c) {
      return std::bit_cast<Floats>(_mm512_fmadd_ps(std::bit_cast<__m512>(a),
                                                   std::bit_cast<__m512>(b),
                                                   std::bit_cast<__m512>(c)));
    });
  }
  static Ints truncate(Floats x) { return __builtin_convertvector(x, Ints); }
};

} // namespace byteblend::BYTEBLEND_TARGET_NAMESPACE

#endif
