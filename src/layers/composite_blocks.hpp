// SPDX-License-Identifier: MIT
// Compositing a block of pixels at a time, as many as one register of the
// instruction set holds (block_words.hpp). A block's top and bottom are
// loaded as four bytes a pixel, blended by the mode's formula on the
// instruction set's own lanes, and composited: atop of varying alphas in
// 16-bit lanes (block_words.hpp), the rest with each pixel in a 32-bit
// lane, where every channel and alpha is a shift and a mask away. A block
// whose alphas make the operator simpler takes the simpler form: nothing of
// the top (P = 0 throughout) is the bottom itself, an opaque top is the
// flat mix in 16-bit lanes, over onto an opaque bottom is atop, over of an
// opaque top at full opacity is that mix with the bottom's alpha as weight,
// over onto a clear bottom is the top. Logos and cut-outs are mostly such
// blocks; one test of the alpha bytes finds them.
#ifndef BYTEBLEND_LAYERS_COMPOSITE_BLOCKS_HPP
#define BYTEBLEND_LAYERS_COMPOSITE_BLOCKS_HPP

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <immintrin.h>
#include <type_traits>
#include <utility>

#include "../element_loop.hpp"
#include "block_words.hpp"
#include "composite_scalar.hpp"
#include "flat_loop.hpp"
#include "modes.hpp"
#include "rounding.hpp"

namespace byteblend::BYTEBLEND_TARGET_NAMESPACE {

constexpr std::ptrdiff_t kBlockPixels = kBlockBytes / 4;

// A block as bytes (four a pixel: red, green, blue, alpha), its first half
// and quarter, and as one float or signed lane a pixel.
typedef std::uint8_t BlockBytes __attribute__((vector_size(kBlockBytes)));
typedef std::uint8_t BlockHalf __attribute__((vector_size(kBlockBytes / 2)));
typedef std::uint8_t BlockQuarter __attribute__((vector_size(kBlockBytes / 4)));
typedef float PixelsFloat __attribute__((vector_size(kBlockBytes)));
typedef std::int32_t PixelsInt32 __attribute__((vector_size(kBlockBytes)));

// The three colour bytes of pixel k's lane.
[[gnu::always_inline]] inline Pixels32 own_lane(std::size_t k) {
  Pixels32 lane{};
  lane[k] = 0x00FFFFFFU;
  return lane;
}

// The shuffle of bytes x and y (byte i of y is index size + i) whose byte
// i is index(i): one instruction, or a few, however wide the block.
template <class To, std::size_t kSize, class From, class Index>
[[gnu::always_inline]] inline To shuffled(From x, From y, Index index) {
  return [&]<std::size_t... I>(std::index_sequence<I...>) {
    return To(__builtin_shufflevector(x, y, index(I)...));
  }
  (std::make_index_sequence<kSize>{});
}

// An RGB block's bytes (pixel k's at 3 k) spread to one lane a pixel
// (pixel k's at 4 k), and back. With a byte shuffle (SSSE3 on) that is one
// shuffle each way. SSE2 has none, and the compiler would move the bytes
// one by one through memory; there the block is one register of four
// pixels, and pixel k moves by k bytes: one whole-register shift and a mask
// a pixel.
[[gnu::always_inline]] inline Pixels32 pixels_from_packed(BlockBytes bytes) {
#if defined(__SSSE3__)
  // Pixel k's bytes from 3 k on; its fourth from the last byte, a zero.
  return std::bit_cast<Pixels32>(
      shuffled<BlockBytes, kBlockBytes>(bytes, bytes, [](std::size_t i) {
        return i % 4 == 3 ? kBlockBytes - 1 : i / 4 * 3 + i % 4;
      }));
#else
  return [&]<std::size_t... K>(std::index_sequence<K...>) {
    return ((std::bit_cast<Pixels32>(shuffled<BlockBytes, kBlockBytes>(
                 bytes, BlockBytes{},
                 [](std::size_t i) { return i >= K ? i - K : kBlockBytes; })) &
             own_lane(K)) |
            ...);
  }
  (std::make_index_sequence<kBlockPixels>{});
#endif
}

[[gnu::always_inline]] inline BlockBytes packed_from_pixels(Pixels32 lanes) {
#if defined(__SSSE3__)
  // Byte i of the packed pixels is byte i % 3 of pixel i / 3, and the alpha
  // bytes follow, which makes the shuffle a permutation (the compiler finds
  // shorter sequences for those).
  constexpr std::size_t kPacked = kBlockBytes / 4 * 3;
  const auto bytes = std::bit_cast<BlockBytes>(lanes);
  return shuffled<BlockBytes, kBlockBytes>(bytes, bytes, [](std::size_t i) {
    return i < kPacked ? i / 3 * 4 + i % 3 : (i - kPacked) * 4 + 3;
  });
#else
  return [&]<std::size_t... K>(std::index_sequence<K...>) {
    return (shuffled<BlockBytes, kBlockBytes>(
                std::bit_cast<BlockBytes>(lanes & own_lane(K)), BlockBytes{},
                [](std::size_t i) {
                  return i + K < kBlockBytes ? i + K : kBlockBytes;
                }) |
            ...);
  }
  (std::make_index_sequence<kBlockPixels>{});
#endif
}

// Blocks of pixels of `channels` bytes each into four-byte lanes (an RGB
// pixel's fourth byte is left 0). Reads exactly the block's bytes: an RGB
// block's three quarters, then spread.
template <class L, int Channels>
[[gnu::always_inline]] inline Pixels32 load_pixels(const std::uint8_t *pixels) {
  if constexpr (Channels == 4) {
    // The instruction set's own loads: a memcpy may copy in smaller
    // pieces, which the register then waits to read back through memory
    // (a store that cannot forward to a wider load).
    std::array<typename L::Bytes, kBlockBytes / L::kCount> parts;
    for (std::size_t k = 0; k < parts.size(); ++k) {
      parts[k] = L::load(pixels + k * L::kCount);
    }
    return std::bit_cast<Pixels32>(parts);
  } else {
    // In registers, a half and a quarter load: copied through memory, the
    // whole block's reload of two smaller stores would wait for both.
    BlockHalf low;
    BlockQuarter high;
    std::memcpy(&low, pixels, kBlockBytes / 2);
    std::memcpy(&high, pixels + kBlockBytes / 2, kBlockBytes / 4);
    const auto high_and_zeros = shuffled<BlockHalf, kBlockBytes / 2>(
        high, BlockQuarter{}, [](std::size_t i) { return i; });
    return pixels_from_packed(shuffled<BlockBytes, kBlockBytes>(
        low, high_and_zeros, [](std::size_t i) { return i; }));
  }
}

// The reverse: writes exactly the block's bytes, an RGB block's packed into
// its first three quarters.
template <class L, int Channels>
[[gnu::always_inline]] inline void store_pixels(std::uint8_t *pixels,
                                                Pixels32 lanes) {
  if constexpr (Channels == 4) {
    // As load_pixels, in the instruction set's vectors.
    const auto parts =
        std::bit_cast<std::array<typename L::Bytes, kBlockBytes / L::kCount>>(
            lanes);
    for (std::size_t k = 0; k < parts.size(); ++k) {
      L::store(pixels + k * L::kCount, parts[k]);
    }
  } else {
    // Written from registers, as load_pixels reads.
    const BlockBytes packed = packed_from_pixels(lanes);
    const auto low = shuffled<BlockHalf, kBlockBytes / 2>(
        packed, packed, [](std::size_t i) { return i; });
    const auto high = shuffled<BlockQuarter, kBlockBytes / 4>(
        packed, packed, [](std::size_t i) { return kBlockBytes / 2 + i; });
    std::memcpy(pixels, &low, kBlockBytes / 2);
    std::memcpy(pixels + kBlockBytes / 2, &high, kBlockBytes / 4);
  }
}

// The mode's byte for each byte of the block, on the instruction set's
// lanes; outside a channel mode's own channel, the bottom's.
template <class L, class M>
[[gnu::always_inline]] inline Pixels32 mode_values(Pixels32 t, Pixels32 b) {
  const Pixels32 r = on_parts<typename L::Bytes>(t, b, [](auto ts, auto bs) {
    return M::Formula::template apply<L>(ts, bs);
  });
  if constexpr (M::kChannel >= 0) {
    const Pixels32 own = splat<Pixels32>(255U << (8 * M::kChannel));
    return (r & own) | (b & ~own);
  } else {
    return r;
  }
}

// Byte c of each pixel, in the low byte of its lane. With AVX-512 one
// byte shuffle does it, where a shift and a mask take two: the index's byte
// picks byte c of the pixel, and the three above it have the top bit set,
// which gives a zero byte.
[[gnu::always_inline]] inline Pixels32 byte_of(Pixels32 pixels, int c) {
#if defined(__AVX512BW__)
  typedef long long Part __attribute__((vector_size(64)));
  const Pixels32 offsets = {0, 4, 8, 12, 0, 4, 8, 12, 0, 4, 8, 12, 0, 4, 8, 12};
  const auto indices = std::bit_cast<Part>(
      offsets + splat<Pixels32>(0x80808000U | static_cast<unsigned>(c)));
  return std::bit_cast<Pixels32>(
      _mm512_shuffle_epi8(std::bit_cast<Part>(pixels), indices));
#else
  return (pixels >> (8 * c)) & 255;
#endif
}

constexpr std::uint32_t kAlpha = 0xFF000000U;

// The alpha that every pixel of the block has, or -1 where they differ:
// one test for both uniform cases, of the alpha bytes against the first
// pixel's (the instruction set's vectors OR-ed, then one test of the
// result). An RGB block is opaque.
template <class L, int Channels>
[[gnu::always_inline]] inline int uniform_alpha(Pixels32 pixels) {
  if constexpr (Channels == 3) {
    return 255;
  } else {
    constexpr std::size_t kParts = kBlockBytes / L::kCount;
    using Parts = std::array<typename L::Bytes, kParts>;
    const auto differences =
        std::bit_cast<Parts>((pixels ^ pixels[0]) & kAlpha);
    typename L::Bytes any = differences[0];
    for (std::size_t k = 1; k < kParts; ++k) {
      any |= differences[k];
    }
    return L::every_lane_zero(any) ? static_cast<int>(pixels[0] >> 24) : -1;
  }
}

// A call's opacity as a byte and in every 32-bit lane, made once before
// the loop: made in the block, the broadcast sat on the path only blocks of
// varying alpha take, and the compiler repeated it every block.
// Also, for atop in 16-bit lanes, the opacity in both halves of each lane
// and the factor of its scaled weights.
struct BlockOpacity {
  Pixels32 lanes;
  Pixels32 in_both_halves;
  unsigned byte;
  std::uint16_t weight_scale;

  explicit BlockOpacity(unsigned opacity)
      : lanes(splat<Pixels32>(opacity)),
        in_both_halves(splat<Pixels32>(opacity * 0x10001U)), byte(opacity),
        weight_scale(weight_scale_factor(opacity)) {}
};

// The mode's values for the block's even and odd bytes in 16-bit lanes,
// outside a channel mode's channel and in the alpha lanes the bottom's: the
// integer formulas on those lanes, the others (single precision) on bytes.
template <class L, class M>
[[gnu::always_inline]] inline std::array<PixelWords, 2> mode_words(Pixels32 t,
                                                                   Pixels32 b) {
  constexpr std::uint32_t kOwn =
      M::kChannel >= 0 ? 255U << (8 * M::kChannel) : 0x00FFFFFFU;
  const PixelWords be = even_bytes(b);
  const PixelWords bo = odd_bytes(b);
  PixelWords re;
  PixelWords ro;
  if constexpr (M::kInFloat) {
    const Pixels32 r = mode_values<L, M>(t, b);
    re = even_bytes(r);
    ro = odd_bytes(r);
  } else {
    using W = WordLanes<L>;
    re = M::Formula::template apply<W>(even_bytes(t), be);
    ro = M::Formula::template apply<W>(odd_bytes(t), bo);
  }
  const PixelWords own_even = even_bytes(splat<Pixels32>(kOwn));
  const PixelWords own_odd = odd_bytes(splat<Pixels32>(kOwn));
  if constexpr (M::kChannel >= 0) {
    re = (re & own_even) | (be & ~own_even);
  }
  ro = (ro & own_odd) | (bo & ~own_odd);
  return {re, ro};
}

// Atop where the alphas vary, in 16-bit lanes (mix_words), the weight
// P = At a in both halves of each pixel's lane.
template <class L, class M>
[[gnu::always_inline]] inline Pixels32
atop_in_16_bit_lanes(Pixels32 t, Pixels32 b, const BlockOpacity &opacities) {
  const auto weight =
      std::bit_cast<PixelWords>((t >> 24) * opacities.in_both_halves);
  const PixelWords scaled = scaled_weight<L>(weight, opacities.weight_scale);
  const auto [re, ro] = mode_words<L, M>(t, b);
  return from_bytes(mix_words<L>(re, even_bytes(b), weight, scaled),
                    mix_words<L>(ro, odd_bytes(b), weight, scaled));
}

// Atop. Inlined into each loop, as over_pixels: called once a block,
// it would cost a call and its constants again every block.
template <class L, class M, int Tc>
[[gnu::always_inline]] inline Pixels32
atop_pixels(Pixels32 t, Pixels32 b, const BlockOpacity &opacities) {
  const unsigned opacity = opacities.byte;
  const int top_alpha = uniform_alpha<L, Tc>(t);
  if (opacity == 0 || top_alpha == 0) {
    return b; // P = 0: the bottom as it is.
  }
  if (top_alpha == 255) {
    // An opaque top, P = 255 a: the flat mix, as the byte-by-byte form
    // computes it (the mode mixed in the words it computes in, where it has
    // such a form); outside a channel mode's channel, and in alpha, the
    // bottom's.
    if (opacity == 255) {
      return (mode_values<L, M>(t, b) & ~kAlpha) | (b & kAlpha);
    }
    constexpr std::uint32_t kOwn =
        M::kChannel >= 0 ? 255U << (8 * M::kChannel) : ~kAlpha;
    const Pixels32 mixed =
        on_parts<typename L::Bytes>(t, b, [opacity](auto ts, auto bs) {
          return MixedWithOpacity<typename M::Formula>{opacity}
              .template apply<L>(ts, bs);
        });
    return (mixed & kOwn) | (b & ~kOwn);
  }
  return atop_in_16_bit_lanes<L, M>(t, b, opacities);
}

// 1 / y to within 2^-11 of it relative, for divide_rounded: the
// instruction set's reciprocal estimate (2^-14 with AVX-512, 1.5 * 2^-12
// otherwise), a fraction of a division's cost.
[[gnu::always_inline]] inline PixelsFloat inverse_estimate(PixelsFloat y) {
  // (A block is one register: block_words.hpp.)
#if defined(__AVX512F__)
  // The zero-masking form keeps GCC 12 from warning about the undefined
  // vector the plain one starts from.
  return _mm512_maskz_rcp14_ps(static_cast<__mmask16>(0xFFFF), y);
#elif defined(__AVX2__)
  return _mm256_rcp_ps(y);
#else
  return _mm_rcp_ps(y);
#endif
}

// Over of an opaque top at full opacity: P = 65025 and Y = 255 * 65025,
// so the alpha is 255 and the colour round(((255 - Ab) t + Ab r) / 255),
// atop's mix of r over t in 16-bit lanes with the weight 255 Ab. (Those
// weights are atop's at opacity 255, and so is their scale factor.) With
// `normal` that is the top itself.
template <class L, class M>
[[gnu::always_inline]] inline Pixels32 over_opaque_top(Pixels32 t, Pixels32 b) {
  if constexpr (std::is_same_v<typename M::Formula, Normal>) {
    return t | kAlpha;
  } else {
    const auto weight =
        std::bit_cast<PixelWords>((b >> 24) * splat<Pixels32>(255 * 0x10001U));
    const PixelWords scaled =
        scaled_weight<L>(weight, weight_scale_factor(255));
    const auto [re, ro] = mode_words<L, M>(t, b);
    return from_bytes(mix_words<L>(re, even_bytes(t), weight, scaled),
                      mix_words<L>(ro, odd_bytes(t), weight, scaled)) |
           kAlpha;
  }
}

// Over onto a clear bottom (Ab = 0): Y = 255 P and X = 255 P t, so the
// colour is the top's wherever P > 0 and the alpha round(P / 255); where
// P = 0, nothing. Layers laid one by one onto an empty canvas start so.
template <int Tc>
[[gnu::always_inline]] inline Pixels32
over_clear_bottom(Pixels32 t, const BlockOpacity &opacities) {
  const Pixels32 top_alpha = Tc == 4 ? t >> 24 : splat<Pixels32>(255);
  const Pixels32 weight = top_alpha * opacities.lanes; // P
  const Pixels32 m = weight + 128;
  const Pixels32 alpha = (m + (m >> 8)) >> 8;
  const auto covered = std::bit_cast<Pixels32>(weight != 0);
  return (t & ~kAlpha & covered) | (alpha << 24);
}

// Over onto an RGBA bottom: the sums reach 255 * 16581375 < 2^32.
template <class L, class M, int Tc>
[[gnu::always_inline]] inline Pixels32
over_pixels(Pixels32 t, Pixels32 b, const BlockOpacity &opacities) {
  const int bottom_alpha_of_block = uniform_alpha<L, 4>(b);
  if (bottom_alpha_of_block == 255) {
    return atop_pixels<L, M, Tc>(t, b, opacities); // an opaque bottom
  }
  const unsigned opacity = opacities.byte;
  const int top_alpha_of_block = uniform_alpha<L, Tc>(t);
  if (opacity == 0 || top_alpha_of_block == 0) {
    // P = 0: the bottom, but nothing where it is empty too.
    return b & std::bit_cast<Pixels32>(b >= 0x01000000U);
  }
  if (opacity == 255 && top_alpha_of_block == 255) {
    return over_opaque_top<L, M>(t, b);
  }
  if (bottom_alpha_of_block == 0) [[unlikely]] {
    return over_clear_bottom<Tc>(t, opacities);
  }
  const Pixels32 top_alpha = Tc == 4 ? t >> 24 : splat<Pixels32>(255);
  const Pixels32 weight = top_alpha * opacities.lanes; // P
  const Pixels32 rest = 65025 - weight;
  const Pixels32 bottom_alpha = b >> 24;
  const Pixels32 y = 255 * weight + bottom_alpha * rest;
  // Where y is 0 every weight below is 0 too: dividing by 1 gives 0. (y - 1
  // has its top bit set just where y is 0, as y < 2^24.)
  const Pixels32 divisor = y | ((y - 1) >> 31);
  const Pixels32 bottom_weight = rest * bottom_alpha;
  // X for channel c. With the mode `normal` r is t, whose weights P (255 -
  // Ab) and P Ab sum to 255 P: no mode's values, and no M.
  const auto numerator = [&] {
    if constexpr (std::is_same_v<typename M::Formula, Normal>) {
      return [&, top_weight = 255 * weight](int c) {
        return top_weight * byte_of(t, c) + bottom_weight * byte_of(b, c);
      };
    } else {
      // X = P M + (65025 - P) Ab b for M = (255 - Ab) t + Ab r, which is at
      // most 65025: M of every channel at once, in the 16-bit lanes of the
      // even and odd bytes, where the integer modes compute r too; then
      // each channel's from its lane's low or high half.
      const auto alpha_words =
          std::bit_cast<PixelWords>(bottom_alpha * 0x10001U);
      const PixelWords rest_words = 255 - alpha_words;
      const auto [re, ro] = mode_words<L, M>(t, b);
      const auto mixed_even = std::bit_cast<Pixels32>(
          rest_words * even_bytes(t) + alpha_words * re);
      const auto mixed_odd =
          std::bit_cast<Pixels32>(rest_words * odd_bytes(t) + alpha_words * ro);
      return [&, mixed = std::array{mixed_even & 0xFFFF, mixed_odd & 0xFFFF,
                                    mixed_even >> 16}](int c) {
        return weight * mixed[static_cast<std::size_t>(c)] +
               bottom_weight * byte_of(b, c);
      };
    }
  }();
  Pixels32 out = divide_by_65025_rounded<PixelsFloat>(y) << 24;
  // (Converted as signed lanes, which every instruction set converts in
  // one instruction: y < 2^24.)
  const PixelsFloat inverse = inverse_estimate(__builtin_convertvector(
      std::bit_cast<PixelsInt32>(divisor), PixelsFloat));
  for (int c = 0; c < 3; ++c) {
    out |= divide_rounded(numerator(c), divisor, inverse) << (8 * c);
  }
  return out;
}

// One block of Tc-channel top onto Bc-channel bottom.
template <class L, class M, Operator Op, int Tc, int Bc>
[[gnu::always_inline]] inline Pixels32
composite_block(std::ptrdiff_t p, const std::uint8_t *top,
                const std::uint8_t *bottom, const BlockOpacity &opacities) {
  const Pixels32 t = load_pixels<L, Tc>(top + p * Tc);
  const Pixels32 b = load_pixels<L, Bc>(bottom + p * Bc);
  if constexpr (Op == Operator::atop) {
    return atop_pixels<L, M, Tc>(t, b, opacities);
  } else {
    static_assert(Bc == 4, "over onto an opaque bottom is atop");
    return over_pixels<L, M, Tc>(t, b, opacities);
  }
}

// An RGBA result from the streaming threshold of the flat loops on, as they
// write theirs: the pixels up to a cache line of `result` one by one, each
// block after streamed (whole lines, as the head aligns them), the tail
// one by one, a fence. Returns false, having written nothing, where no
// pixel starts a line (`result` not on a 4-byte boundary) or the
// instruction set streams nothing.
template <class L, class M, Operator Op, int Tc>
bool composite_streaming(std::int32_t pixels, const std::uint8_t *top,
                         const std::uint8_t *bottom, std::uint8_t *result,
                         unsigned opacity) {
  if constexpr (L::kStreamingStores) {
    const auto misalignment = static_cast<std::ptrdiff_t>(
        reinterpret_cast<std::uintptr_t>(result) % kCacheLine);
    if (std::ptrdiff_t{pixels} * 4 < kStreamingFrom || misalignment % 4 != 0) {
      return false;
    }
    const std::ptrdiff_t head = (kCacheLine - misalignment) % kCacheLine / 4;
    composite_pixels_one_by_one<M>(Op, 0, head, top, Tc, bottom, 4, result,
                                   opacity);
    using Vectors = std::array<typename L::Bytes, kBlockBytes / L::kCount>;
    const BlockOpacity opacities(opacity);
    std::ptrdiff_t p = head;
    for (; p + kBlockPixels <= pixels; p += kBlockPixels) {
      const auto block = std::bit_cast<Vectors>(
          composite_block<L, M, Op, Tc, 4>(p, top, bottom, opacities));
      for (std::size_t k = 0; k < block.size(); ++k) {
        L::store_streaming(result + p * 4 + k * L::kCount, block[k]);
      }
    }
    composite_pixels_one_by_one<M>(Op, p, pixels, top, Tc, bottom, 4, result,
                                   opacity);
    L::fence();
    return true;
  } else {
    return false;
  }
}

template <class L, class M, Operator Op, int Tc, int Bc>
void composite_in_blocks(std::int32_t pixels, const std::uint8_t *top,
                         const std::uint8_t *bottom, std::uint8_t *result,
                         unsigned opacity) {
  if constexpr (Bc == 4) {
    if (composite_streaming<L, M, Op, Tc>(pixels, top, bottom, result,
                                          opacity)) {
      return;
    }
  }
  const BlockOpacity opacities(opacity);
  std::ptrdiff_t p = 0;
  for (; p + kBlockPixels <= pixels; p += kBlockPixels) {
    store_pixels<L, Bc>(result + p * Bc, composite_block<L, M, Op, Tc, Bc>(
                                             p, top, bottom, opacities));
  }
  composite_pixels_one_by_one<M>(Op, p, pixels, top, Tc, bottom, Bc, result,
                                 opacity);
}

} // namespace byteblend::BYTEBLEND_TARGET_NAMESPACE

#endif
