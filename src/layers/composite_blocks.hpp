// SPDX-License-Identifier: MIT
// Compositing sixteen pixels at a time. A block's top and bottom are
// loaded whole (at most 64 bytes each), rearranged with constant shuffles
// into the result's layout (colour, top alpha and bottom alpha beside each
// result byte), blended by the mode's formula on the instruction set's own
// lanes, composited in wider lanes, and stored whole. The lane vectors here
// are 64 bytes wide whatever the instruction set; the compiler splits them
// into its registers.
#ifndef BYTEBLEND_LAYERS_COMPOSITE_BLOCKS_HPP
#define BYTEBLEND_LAYERS_COMPOSITE_BLOCKS_HPP

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "composite_scalar.hpp"
#include "rounding.hpp"

namespace byteblend::BYTEBLEND_TARGET_NAMESPACE {

constexpr std::ptrdiff_t kBlockPixels = 16;

typedef std::uint8_t Block8 __attribute__((vector_size(64)));
typedef std::uint32_t Block32 __attribute__((vector_size(256)));
typedef std::int32_t BlockInt32 __attribute__((vector_size(256)));
typedef double BlockDouble __attribute__((vector_size(512)));

// Where result byte j of a block finds its inputs. Past the block's last
// pixel (j >= 48 for RGB results) any index will do.
constexpr int pixel_of(int bottom_channels, int j) { return j / bottom_channels; }
constexpr int channel_of(int bottom_channels, int j) {
  return j % bottom_channels;
}
constexpr int top_colour_index(int top_channels, int bottom_channels, int j) {
  const int c = channel_of(bottom_channels, j);
  return j >= kBlockPixels * bottom_channels
             ? 0
             : pixel_of(bottom_channels, j) * top_channels + (c < 3 ? c : 0);
}
constexpr int alpha_index(int channels, int bottom_channels, int j) {
  return j >= kBlockPixels * bottom_channels
             ? 0
             : pixel_of(bottom_channels, j) * channels + channels - 1;
}

template <int Tc, int Bc, std::size_t... J>
Block8 top_colours(Block8 top, std::index_sequence<J...> /*lanes*/) {
  return __builtin_shufflevector(top, top, top_colour_index(Tc, Bc, J)...);
}
template <int Channels, int Bc, std::size_t... J>
Block8 alphas(Block8 pixels, std::index_sequence<J...> /*lanes*/) {
  return __builtin_shufflevector(pixels, pixels,
                                 alpha_index(Channels, Bc, J)...);
}

// All ones in the result bytes of channel c, else zero.
template <int Bc, std::size_t... J>
Block8 channel_lanes(int c, std::index_sequence<J...> /*lanes*/) {
  return Block8{static_cast<std::uint8_t>(
      channel_of(Bc, static_cast<int>(J)) == c ? 255 : 0)...};
}

// The mode's byte for each result byte, on the instruction set's lanes.
template <class L, class M, int Bc> Block8 mode_values(Block8 t, Block8 b) {
  constexpr std::size_t kParts = 64 / L::kCount;
  using Parts = std::array<typename L::Bytes, kParts>;
  const auto ts = std::bit_cast<Parts>(t);
  const auto bs = std::bit_cast<Parts>(b);
  Parts rs{};
  for (std::size_t k = 0; k < kParts; ++k) {
    rs[k] = M::Formula::template apply<L>(ts[k], bs[k]);
  }
  const auto r = std::bit_cast<Block8>(rs);
  if constexpr (M::kChannel >= 0) {
    const Block8 own = channel_lanes<Bc>(M::kChannel,
                                         std::make_index_sequence<64>{});
    return (r & own) | (b & ~own);
  } else {
    return r;
  }
}

template <class V> Block32 widened(V v) {
  return __builtin_convertvector(v, Block32);
}

// One block of Tc-channel top onto Bc-channel bottom.
template <class L, class M, Operator Op, int Tc, int Bc>
void composite_block(std::ptrdiff_t p, const std::uint8_t *top,
                     const std::uint8_t *bottom, std::uint8_t *result,
                     unsigned opacity) {
  constexpr auto kLanes = std::make_index_sequence<64>{};
  Block8 top_block{};
  Block8 bottom_block{};
  std::memcpy(&top_block, top + p * Tc, kBlockPixels * Tc);
  std::memcpy(&bottom_block, bottom + p * Bc, kBlockPixels * Bc);

  const Block8 t = top_colours<Tc, Bc>(top_block, kLanes);
  const Block8 b = bottom_block;
  const Block8 r = mode_values<L, M, Bc>(t, b);
  Block32 top_alpha = splat<Block32>(255);
  if constexpr (Tc == 4) {
    top_alpha = widened(alphas<4, Bc>(top_block, kLanes));
  }
  const Block32 weight = top_alpha * splat<Block32>(opacity);
  const Block32 rest = splat<Block32>(65025) - weight;

  Block8 out;
  if constexpr (Op == Operator::atop) {
    const Block32 n = weight * widened(r) + rest * widened(b);
    out = __builtin_convertvector(divide_by_65025_rounded(n), Block8);
    if constexpr (Bc == 4) {
      const Block8 alpha_lanes = channel_lanes<4>(3, kLanes);
      out = (out & ~alpha_lanes) | (b & alpha_lanes);
    }
  } else {
    static_assert(Bc == 4, "over onto an opaque bottom is atop");
    const Block32 bottom_alpha = widened(alphas<4, 4>(bottom_block, kLanes));
    const Block32 y =
        splat<Block32>(255) * weight + bottom_alpha * rest; // <= 16581375
    // At most 255 y < 2^32.
    const Block32 x = weight * (splat<Block32>(255) - bottom_alpha) * widened(t) +
                      weight * bottom_alpha * widened(r) +
                      rest * bottom_alpha * widened(b);
    // Exact integers in double; the quotient is at least 1 / (2 y) away
    // from the next integer, far more than the division's error.
    const BlockInt32 empty = y == splat<Block32>(0);
    const BlockDouble yd = __builtin_convertvector(
        y | std::bit_cast<Block32>(empty & 1), BlockDouble);
    const BlockDouble xd = __builtin_convertvector(x, BlockDouble);
    const BlockInt32 colour =
        __builtin_convertvector((xd + yd * 0.5) / yd, BlockInt32) & ~empty;
    const Block32 alpha = divide_by_65025_rounded(y);
    const Block8 alpha_lanes = channel_lanes<4>(3, kLanes);
    out = (__builtin_convertvector(colour, Block8) & ~alpha_lanes) |
          (__builtin_convertvector(alpha, Block8) & alpha_lanes);
  }
  std::memcpy(result + p * Bc, &out, kBlockPixels * Bc);
}

template <class L, class M, Operator Op, int Tc, int Bc>
void composite_in_blocks(std::int32_t pixels, const std::uint8_t *top,
                         const std::uint8_t *bottom, std::uint8_t *result,
                         unsigned opacity) {
  std::ptrdiff_t p = 0;
  for (; p + kBlockPixels <= pixels; p += kBlockPixels) {
    composite_block<L, M, Op, Tc, Bc>(p, top, bottom, result, opacity);
  }
  composite_pixels_one_by_one<M>(Op, p, pixels, top, Tc, bottom, Bc, result,
                                 opacity);
}

} // namespace byteblend::BYTEBLEND_TARGET_NAMESPACE

#endif
