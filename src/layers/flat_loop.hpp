// SPDX-License-Identifier: MIT
// The byte-by-byte form with an opacity: the loops of element_loop.hpp
// with a blend that carries the opacity, the same vectors two at a time,
// the same streaming stores from the same length on, and the same memory
// contract (nothing at or beyond `length` is touched; a channel mode
// writes only its channel).
#ifndef BYTEBLEND_LAYERS_FLAT_LOOP_HPP
#define BYTEBLEND_LAYERS_FLAT_LOOP_HPP

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "../element_loop.hpp"
#include "rounding.hpp"

namespace byteblend::BYTEBLEND_TARGET_NAMESPACE {

// Whether Formula offers its byte in K's words (apply_words).
template <class Formula, class K>
concept HasWordsForm = requires(typename K::Bytes v) {
  Formula::template apply_words<K>(v, v);
};
// Whether K multiplies 16-bit lanes with rounding (mix_words_by_difference).
template <class K>
concept HasRoundedMultiply = requires(typename K::Words w) {
  K::multiply_high_rounded(w, w);
};

// The mode's byte mixed with the bottom's by the opacity, on any lane kit.
// A formula with a words form is mixed in the words it computes in: one
// widening and one narrowing a vector instead of two of each. Where the kit
// multiplies with rounding, the mix is by the difference from the bottom.
template <class Formula> struct MixedWithOpacity {
  unsigned opacity;

  template <class K>
  [[nodiscard]] typename K::Bytes apply(typename K::Bytes t,
                                        typename K::Bytes b) const {
    if constexpr (HasRoundedMultiply<K>) {
      using W = typename K::Words;
      const W k = W{} + static_cast<std::uint16_t>(
                            kDifferenceMultipliers.by_opacity[opacity]);
      if constexpr (HasWordsForm<Formula, K>) {
        return K::on_words(t, b, [k](W tw, W bw) {
          return mix_words_by_difference<K>(
              Formula::template apply_words<K>(tw, bw), bw, k);
        });
      } else {
        return K::on_words(
            Formula::template apply<K>(t, b), b,
            [k](W rw, W bw) { return mix_words_by_difference<K>(rw, bw, k); });
      }
    } else if constexpr (HasWordsForm<Formula, K>) {
      return K::on_words(t, b, [a = opacity](auto tw, auto bw) {
        using W = decltype(tw);
        return mix_words_with_opacity<K>(
            Formula::template apply_words<K>(tw, bw), bw, splat<W>(a),
            splat<W>(255 - a));
      });
    } else {
      return mix_with_opacity<K>(Formula::template apply<K>(t, b), b, opacity);
    }
  }
};

template <class Blend>
void mix_one_by_one(std::ptrdiff_t begin, std::ptrdiff_t end,
                    std::ptrdiff_t stride, Blend blend, const std::uint8_t *top,
                    const std::uint8_t *bottom, std::uint8_t *result) {
  using S = ScalarLanes;
  for (std::ptrdiff_t i = begin; i < end; i += stride) {
    S::store(result + i,
             blend.template apply<S>(S::load(top + i), S::load(bottom + i)));
  }
}

template <class L, class Blend>
typename L::Bytes mix_vector(std::ptrdiff_t at, Blend blend,
                             const std::uint8_t *top,
                             const std::uint8_t *bottom) {
  return blend.template apply<L>(L::load(top + at), L::load(bottom + at));
}

// [begin, end) with ordinary stores; both vectors of a step are loaded
// before either is stored, as in blend_range.
template <class L, class Blend>
void mix_range(std::ptrdiff_t begin, std::ptrdiff_t end, Blend blend,
               const std::uint8_t *top, const std::uint8_t *bottom,
               std::uint8_t *result) {
  std::ptrdiff_t i = begin;
  if constexpr (L::kCount > 1) {
    for (; i + 2 * L::kCount <= end; i += 2 * L::kCount) {
      const auto first = mix_vector<L>(i, blend, top, bottom);
      const auto second = mix_vector<L>(i + L::kCount, blend, top, bottom);
      L::store(result + i, first);
      L::store(result + i + L::kCount, second);
    }
    for (; i + L::kCount <= end; i += L::kCount) {
      L::store(result + i, mix_vector<L>(i, blend, top, bottom));
    }
  }
  mix_one_by_one(i, end, 1, blend, top, bottom, result);
}

// As blend_range_streaming: an ordinary head up to a cache line of
// `result`, whole lines streamed, an ordinary tail, a fence.
template <class L, class Blend>
void mix_range_streaming(std::ptrdiff_t end, Blend blend,
                         const std::uint8_t *top, const std::uint8_t *bottom,
                         std::uint8_t *result) {
  constexpr std::ptrdiff_t kVectors =
      L::kCount >= kCacheLine ? 2 : kCacheLine / L::kCount;
  constexpr std::ptrdiff_t kStep = kVectors * L::kCount;
  const auto misalignment = static_cast<std::ptrdiff_t>(
      reinterpret_cast<std::uintptr_t>(result) % kCacheLine);
  const std::ptrdiff_t head =
      std::min(end, (kCacheLine - misalignment) % kCacheLine);
  mix_range<L>(0, head, blend, top, bottom, result);
  std::ptrdiff_t i = head;
  for (; i + kStep <= end; i += kStep) {
    typename L::Bytes mixed[kVectors];
    for (std::ptrdiff_t k = 0; k < kVectors; ++k) {
      mixed[k] = mix_vector<L>(i + k * L::kCount, blend, top, bottom);
    }
    for (std::ptrdiff_t k = 0; k < kVectors; ++k) {
      L::store_streaming(result + i + k * L::kCount, mixed[k]);
    }
  }
  mix_range<L>(i, end, blend, top, bottom, result);
  L::fence();
}

template <class L, class Blend>
void mix_every_byte(std::int32_t length, Blend blend, const std::uint8_t *top,
                    const std::uint8_t *bottom, std::uint8_t *result) {
  if constexpr (L::kStreamingStores) {
    if (length >= kStreamingFrom) {
      mix_range_streaming<L>(length, blend, top, bottom, result);
      return;
    }
  }
  mix_range<L>(0, length, blend, top, bottom, result);
}

// Indices start, start + 3, ... below length; whole vectors are computed
// up to the last visited index and only the channel's bytes stored, as
// blend_one_channel does where stores cannot be masked.
template <class L, class Blend>
void mix_one_channel(std::ptrdiff_t start, std::int32_t length, Blend blend,
                     const std::uint8_t *top, const std::uint8_t *bottom,
                     std::uint8_t *result) {
  const std::ptrdiff_t end = length;
  if (end <= start) {
    return;
  }
  const std::ptrdiff_t last =
      start + (end - 1 - start) / kChannelStride * kChannelStride;
  std::ptrdiff_t first = start;
  if constexpr (L::kCount > 1) {
    for (std::ptrdiff_t i = 0; i + L::kCount <= last + 1; i += L::kCount) {
      alignas(64) std::uint8_t mixed[L::kCount];
      L::store(mixed, mix_vector<L>(i, blend, top, bottom));
      for (; first < i + L::kCount; first += kChannelStride) {
        result[first] = mixed[first - i];
      }
    }
  }
  mix_one_by_one(first, end, kChannelStride, blend, top, bottom, result);
}

} // namespace byteblend::BYTEBLEND_TARGET_NAMESPACE

#endif
