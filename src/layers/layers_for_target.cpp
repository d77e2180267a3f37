// SPDX-License-Identifier: MIT
// The layer functions of one instruction set. Like kernels_for_target.cpp,
// this file is compiled once per instruction set; the build defines
// BYTEBLEND_TARGET_NAMESPACE and the compiler flags of that set.
//
// Routes: opacity 255 is the plain kernel's loop; any other opacity is the
// flat mix, vectorised for every mode. Composites of an RGB top onto an RGB
// bottom with a mode that blends every byte are the flat mix (an opaque top
// at opacity a is exactly that); every other layout and operator runs
// a register's pixels a block on the vector sets, its tail pixel by pixel (an
// RGBA result past the flat loops' streaming threshold is streamed), and
// the plain set goes pixel by pixel throughout.
#include <xmmintrin.h>

#include <cstdint>

#include "../element_loop.hpp"
#include "../float_environment.hpp"
#include "../lanes/for_target.hpp"
#include "composite_blocks.hpp"
#include "composite_scalar.hpp"
#include "flat_loop.hpp"
#include "layer_targets.hpp"
#include "modes.hpp"

namespace byteblend::BYTEBLEND_TARGET_NAMESPACE {
namespace {

using L = TargetLanes;

// Runs f() in the default floating-point environment where M computes in
// single precision or `always` says so (over's division); else directly.
template <class F> [[gnu::noinline]] void call_out_of_line(const F &f) { f(); }

template <class F> void in_default_environment(bool needed, const F &f) {
  if (!needed) {
    f();
    return;
  }
  const unsigned caller = _mm_getcsr();
  _mm_setcsr(kDefaultMxcsr);
  call_out_of_line(f);
  _mm_setcsr(caller);
}

template <class M>
void blend_flat(std::int32_t length, const std::uint8_t *top,
                const std::uint8_t *bottom, std::uint8_t *result,
                unsigned opacity) {
  using Formula = typename M::Formula;
  if constexpr (M::kChannel >= 0) {
    if (opacity == 255) {
      blend_one_channel<L, Formula, M::kChannel>(length, top, bottom, result);
    } else {
      mix_one_channel<L>(M::kChannel, length,
                         MixedWithOpacity<Formula>{opacity}, top, bottom,
                         result);
    }
  } else if (opacity == 255) {
    blend_every_byte<L, Formula>(length, top, bottom, result);
  } else {
    mix_every_byte<L>(length, MixedWithOpacity<Formula>{opacity}, top, bottom,
                      result);
  }
}

bool valid_channels(int channels) { return channels == 3 || channels == 4; }

template <class M, Operator Op>
void composite_layout(std::int32_t pixels, const std::uint8_t *top,
                      int top_channels, const std::uint8_t *bottom,
                      int bottom_channels, std::uint8_t *result,
                      unsigned opacity) {
  if constexpr (L::kCount > 1) {
    if (bottom_channels == 4) {
      if (top_channels == 4) {
        composite_in_blocks<L, M, Op, 4, 4>(pixels, top, bottom, result,
                                            opacity);
      } else {
        composite_in_blocks<L, M, Op, 3, 4>(pixels, top, bottom, result,
                                            opacity);
      }
      return;
    }
    if constexpr (Op == Operator::atop) {
      if (top_channels == 4) {
        composite_in_blocks<L, M, Op, 4, 3>(pixels, top, bottom, result,
                                            opacity);
      } else {
        composite_in_blocks<L, M, Op, 3, 3>(pixels, top, bottom, result,
                                            opacity);
      }
      return;
    }
  }
  composite_pixels_one_by_one<M>(Op, 0, pixels, top, top_channels, bottom,
                                 bottom_channels, result, opacity);
}

} // namespace

int BlendWithOpacity(int mode, std::int32_t length, const std::uint8_t *top,
                     const std::uint8_t *bottom, std::uint8_t *result,
                     std::uint8_t opacity) {
  if (mode < 0 || mode >= kModeCount) {
    return -1;
  }
  with_mode(mode, [&](auto m) {
    using M = decltype(m);
    in_default_environment(M::kInFloat, [&] {
      blend_flat<M>(length, top, bottom, result, opacity);
    });
  });
  return 0;
}

int Composite(int mode, int blend_operator, std::int32_t pixels,
              const std::uint8_t *top, int top_channels,
              const std::uint8_t *bottom, int bottom_channels,
              std::uint8_t *result, std::uint8_t opacity) {
  if (mode < 0 || mode >= kModeCount) {
    return -1;
  }
  if (blend_operator != 0 && blend_operator != 1) {
    return -2;
  }
  if (!valid_channels(top_channels) || !valid_channels(bottom_channels)) {
    return -3;
  }
  if (pixels <= 0) {
    return 0;
  }
  // Over onto an opaque bottom is atop.
  const bool over = blend_operator == 1 && bottom_channels == 4;
  with_mode(mode, [&](auto m) {
    using M = decltype(m);
    if constexpr (M::kChannel < 0) {
      if (top_channels == 3 && bottom_channels == 3 &&
          pixels <= INT32_MAX / 3) {
        // An opaque top: exactly the flat mix, pixel bytes in a row.
        in_default_environment(M::kInFloat, [&] {
          blend_flat<M>(pixels * 3, top, bottom, result, opacity);
        });
        return;
      }
    }
    in_default_environment(M::kInFloat || over, [&] {
      if (over) {
        composite_layout<M, Operator::over>(pixels, top, top_channels, bottom,
                                            bottom_channels, result, opacity);
      } else {
        composite_layout<M, Operator::atop>(pixels, top, top_channels, bottom,
                                            bottom_channels, result, opacity);
      }
    });
  });
  return 0;
}

} // namespace byteblend::BYTEBLEND_TARGET_NAMESPACE
