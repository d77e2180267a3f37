// SPDX-License-Identifier: MIT
// The formula of the red, green and blue channel kernels; which bytes it is
// applied to (every third one, from the channel's offset) is the loop's job.
#ifndef BYTEBLEND_FORMULAS_CHANNEL_HPP
#define BYTEBLEND_FORMULAS_CHANNEL_HPP

#include "../clamp.hpp"

namespace byteblend::BYTEBLEND_TARGET_NAMESPACE {

// 3 t + b, clamped to 255. Clamping after each addition gives the same
// value, since every term is non-negative, and keeps the sum in a byte.
struct ChannelSum {
  template <class L>
  static typename L::Bytes apply(typename L::Bytes t, typename L::Bytes b) {
    return L::add_saturate(L::add_saturate(L::add_saturate(t, t), t), b);
  }
};

} // namespace byteblend::BYTEBLEND_TARGET_NAMESPACE

#endif
