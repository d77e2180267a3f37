// SPDX-License-Identifier: MIT
// The element loops that every kernel is built from: one for the kernels
// that blend every byte, one for the channel kernels that blend every third
// byte from an offset. Indices are wide (ptrdiff_t), so no loop can step
// past the largest 32-bit length; a length of zero or below visits nothing.
//
// The memory contract holds on every route: no byte at or beyond `length`
// is read or written, and a channel kernel writes only its own channel.
#ifndef BYTEBLEND_ELEMENT_LOOP_HPP
#define BYTEBLEND_ELEMENT_LOOP_HPP

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "lanes/scalar.hpp"

namespace byteblend::BYTEBLEND_TARGET_NAMESPACE {

constexpr std::ptrdiff_t kChannelStride = 3;

template <class Formula>
inline void
blend_range_one_by_one(std::ptrdiff_t begin, std::ptrdiff_t end,
                       std::ptrdiff_t stride, const std::uint8_t *top,
                       const std::uint8_t *bottom, std::uint8_t *result) {
  using S = ScalarLanes;
  for (std::ptrdiff_t i = begin; i < end; i += stride) {
    S::store(result + i,
             Formula::template apply<S>(S::load(top + i), S::load(bottom + i)));
  }
}

// The formula on the whole vector at `at`.
template <class L, class Formula>
typename L::Bytes blend_vector(std::ptrdiff_t at, const std::uint8_t *top,
                               const std::uint8_t *bottom) {
  return Formula::template apply<L>(L::load(top + at), L::load(bottom + at));
}

// The formula on the given lanes of the vector at `at`; no other lane is
// read or written.
template <class L, class Formula>
void blend_lanes(std::ptrdiff_t at, typename L::Mask lanes,
                 const std::uint8_t *top, const std::uint8_t *bottom,
                 std::uint8_t *result) {
  L::store(result + at,
           Formula::template apply<L>(L::load(top + at, lanes),
                                      L::load(bottom + at, lanes)),
           lanes);
}

// The loop of the kernels that blend every byte, over [begin, end), with
// ordinary stores.
template <class L, class Formula>
void blend_range(std::ptrdiff_t begin, std::ptrdiff_t end,
                 const std::uint8_t *top, const std::uint8_t *bottom,
                 std::uint8_t *result) {
  std::ptrdiff_t i = begin;
  // Two vectors a step, both loaded before either is stored: the compiler
  // may not move a load above a store to `result`, which might alias it, so
  // this is what lets the second vector's loads overlap the first's work.
  for (; i + 2 * L::kCount <= end; i += 2 * L::kCount) {
    const auto first = blend_vector<L, Formula>(i, top, bottom);
    const auto second = blend_vector<L, Formula>(i + L::kCount, top, bottom);
    L::store(result + i, first);
    L::store(result + i + L::kCount, second);
  }
  for (; i + L::kCount <= end; i += L::kCount) {
    L::store(result + i, blend_vector<L, Formula>(i, top, bottom));
  }
  if (i >= end) {
    return;
  }
  if constexpr (L::kMaskedMemory) {
    blend_lanes<L, Formula>(i, L::first_lanes(end - i), top, bottom, result);
  } else {
    blend_range_one_by_one<Formula>(i, end, 1, top, bottom, result);
  }
}

constexpr std::ptrdiff_t kCacheLine = 64;

// From this length on, the kernels that blend every byte write `result`
// with streaming stores. An ordinary store first reads the line it writes
// into the cache (a third stream of memory traffic beside the two loads)
// and evicts a line that might have been useful; a streaming store writes
// the whole line to memory directly. But the result then is not in the
// cache, a loss when the caller reads it next while it would still have
// fitted. Measured with bench/streaming_threshold_bench.cpp on AMD EPYC
// (1 MiB L2 per core, 32 MiB L3 shared with other tenants), the same arrays
// blended again and again, medians of 7, streaming against ordinary:
// addition 0.94 at 1 MiB, 0.94 at 2 MiB, 1.39 at 4 MiB, 2.3 at 8 MiB;
// multiplication 0.98, 1.00, 1.16, 1.56; opacity 0.88, 0.94, 1.15, 1.68.
// Up to 2 MiB the three arrays stay in cache and ordinary stores win; from
// 4 MiB on they do not, and streaming wins for every kernel.
constexpr std::ptrdiff_t kStreamingFrom = std::ptrdiff_t{4} << 20;

// [0, end) with the body streamed: an ordinary head up to the first cache
// line boundary of `result`, whole lines streamed, an ordinary tail, and a
// fence so that the streamed bytes are ordered before whatever the caller
// stores next (another thread that sees that store sees them too). Each
// step loads all of its vectors before it stores any, as blend_range does.
template <class L, class Formula>
void blend_range_streaming(std::ptrdiff_t end, const std::uint8_t *top,
                           const std::uint8_t *bottom, std::uint8_t *result) {
  constexpr std::ptrdiff_t kVectors =
      L::kCount >= kCacheLine ? 2 : kCacheLine / L::kCount;
  constexpr std::ptrdiff_t kStep = kVectors * L::kCount;
  const auto misalignment = static_cast<std::ptrdiff_t>(
      reinterpret_cast<std::uintptr_t>(result) % kCacheLine);
  const std::ptrdiff_t head =
      std::min(end, (kCacheLine - misalignment) % kCacheLine);
  blend_range<L, Formula>(0, head, top, bottom, result);
  std::ptrdiff_t i = head;
  for (; i + kStep <= end; i += kStep) {
    typename L::Bytes blended[kVectors];
    for (std::ptrdiff_t k = 0; k < kVectors; ++k) {
      blended[k] = blend_vector<L, Formula>(i + k * L::kCount, top, bottom);
    }
    for (std::ptrdiff_t k = 0; k < kVectors; ++k) {
      L::store_streaming(result + i + k * L::kCount, blended[k]);
    }
  }
  blend_range<L, Formula>(i, end, top, bottom, result);
  L::fence();
}

template <class L, class Formula>
void blend_every_byte(std::int32_t length, const std::uint8_t *top,
                      const std::uint8_t *bottom, std::uint8_t *result) {
  if constexpr (L::kStreamingStores) {
    if (length >= kStreamingFrom) {
      blend_range_streaming<L, Formula>(length, top, bottom, result);
      return;
    }
  }
  blend_range<L, Formula>(0, length, top, bottom, result);
}

// Visits start, start + 3, ... below length. Vector routes whose stores
// cannot be masked compute whole vectors but store the channel's bytes one
// by one, and read only up to the last visited index.
template <class L, class Formula, std::ptrdiff_t Start>
void blend_one_channel(std::int32_t length, const std::uint8_t *top,
                       const std::uint8_t *bottom, std::uint8_t *result) {
  const std::ptrdiff_t end = length;
  if (end <= Start) {
    return;
  }
  if constexpr (L::kMaskedMemory) {
    // Three consecutive vectors cover a whole number of pixels, so their
    // channel masks repeat from one group of three to the next.
    constexpr std::ptrdiff_t kGroup = kChannelStride * L::kCount;
    const typename L::Mask masks[kChannelStride] = {
        L::every_third_lane(Start), L::every_third_lane(Start - L::kCount),
        L::every_third_lane(Start - 2 * L::kCount)};
    // One past the last visited index: the arrays may end there.
    const std::ptrdiff_t extent =
        Start + (end - 1 - Start) / kChannelStride * kChannelStride + 1;
    std::ptrdiff_t i = 0;
    // Every byte of these vectors lies within the visited extent, so they
    // are loaded whole (a masked load costs more than a plain one); only the
    // stores are masked.
    for (; i + kGroup <= extent; i += kGroup) {
      for (std::ptrdiff_t k = 0; k < kChannelStride; ++k) {
        const std::ptrdiff_t at = i + k * L::kCount;
        L::store(result + at, blend_vector<L, Formula>(at, top, bottom),
                 masks[k]);
      }
    }
    // Up to four vectors are left (a whole group may end just past the
    // extent); the masks repeat every three.
    for (std::ptrdiff_t k = 0; i < end; i += L::kCount, ++k) {
      blend_lanes<L, Formula>(
          i, masks[k % kChannelStride] & L::first_lanes(end - i), top, bottom,
          result);
    }
  } else {
    // One past the last visited index: nothing at or beyond it is touched.
    const std::ptrdiff_t last =
        Start + (end - 1 - Start) / kChannelStride * kChannelStride;
    std::ptrdiff_t i = 0;
    std::ptrdiff_t first = Start; // first visited index in the vector at i
    if constexpr (L::kCount > 1) {
      for (; i + L::kCount <= last + 1; i += L::kCount) {
        alignas(64) std::uint8_t blended[L::kCount];
        L::store(blended, blend_vector<L, Formula>(i, top, bottom));
        for (; first < i + L::kCount; first += kChannelStride) {
          result[first] = blended[first - i];
        }
      }
    }
    blend_range_one_by_one<Formula>(first, end, kChannelStride, top, bottom,
                                    result);
  }
}

} // namespace byteblend::BYTEBLEND_TARGET_NAMESPACE

#endif
