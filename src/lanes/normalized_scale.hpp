// SPDX-License-Identifier: MIT
// Every kit's on_normalized_floats hands its formula x / 255 correctly
// rounded and scaled by the kit's kNormalizedScale, a power of two chosen
// for how the kit gets the value cheaply, with no division. A power of two
// moves no rounding: the scaled values, their differences from the scale
// and the quotients of them round exactly as the unscaled ones do (all of
// them stay far from the ends of the single-precision range).
//
// In binary, x / 255 is the byte x repeated without end (1/255 is
// 0x0.010101...), so what a float drops of it is never near half of its
// last place: the dropped part starts with x's own leading one and goes on
// with further copies. A value that agrees with x / 255 in many more bits
// than a float keeps therefore rounds to the same float.
#ifndef BYTEBLEND_LANES_NORMALIZED_SCALE_HPP
#define BYTEBLEND_LANES_NORMALIZED_SCALE_HPP

#include "../target_namespace.hpp"

namespace byteblend::BYTEBLEND_TARGET_NAMESPACE {

// The scale of normalized_from_copies.
constexpr float kScaleOfCopies = 0x1p24F;

// x / 255 correctly rounded and scaled by 2^24, from w = x * 0x010101: the
// byte in three bytes of an integer, which is x / 255 scaled by 2^24 and
// cut after three copies, exact as a float. w + w / 2^24 (w / 2^24 is
// exact, so fused or not this rounds once) has six copies and rounds as
// x / 255 does. The exhaustive tests confirm it for every byte.
template <class V> V normalized_from_copies(V w) {
  return w * (1.0F / kScaleOfCopies) + w;
}

} // namespace byteblend::BYTEBLEND_TARGET_NAMESPACE

#endif
