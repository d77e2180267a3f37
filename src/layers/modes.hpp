// SPDX-License-Identifier: MIT
// The modes of the layers library by their C number, each as the formula
// that gives its byte r for (t, b), and which channel it is limited to.
// The formulas are the very ones the plain kernels are built from.
#ifndef BYTEBLEND_LAYERS_MODES_HPP
#define BYTEBLEND_LAYERS_MODES_HPP

#include "../formulas/channel.hpp"
#include "../formulas/direct.hpp"
#include "../formulas/normalized.hpp"

namespace byteblend::BYTEBLEND_TARGET_NAMESPACE {

// The top itself: the mode of an ordinary layer.
struct Normal {
  template <class L>
  static typename L::Bytes apply(typename L::Bytes t, typename L::Bytes /*b*/) {
    return t;
  }
};

// Channel is -1 for the modes that blend every byte, else 0, 1 or 2; the
// modes that compute in single precision need the default floating-point
// environment.
template <class F, int C = -1, bool Float = false> struct Mode {
  using Formula = F;
  static constexpr int kChannel = C;
  static constexpr bool kInFloat = Float;
};

constexpr int kModeCount = 14;

// Calls visit(Mode<...>{}) for the mode numbered `mode` (0..13, checked by
// the caller).
template <class Visit> void with_mode(int mode, Visit visit) {
  switch (mode) {
  case 0:
    return visit(Mode<Addition>{});
  case 1:
    return visit(Mode<Subtraction>{});
  case 2:
    return visit(Mode<Multiplication>{});
  case 3:
    return visit(Mode<Screen>{});
  case 4:
    return visit(Mode<ChannelSum, 0>{});
  case 5:
    return visit(Mode<ChannelSum, 1>{});
  case 6:
    return visit(Mode<ChannelSum, 2>{});
  case 7:
    return visit(Mode<Opacity>{});
  case 8:
    return visit(Mode<Overlay>{});
  case 9:
    return visit(Mode<Lighten>{});
  case 10:
    return visit(Mode<Darken>{});
  case 11:
    return visit(Mode<ColorDodge, -1, true>{});
  case 12:
    return visit(Mode<ColorBurn, -1, true>{});
  default:
    return visit(Mode<Normal>{});
  }
}

} // namespace byteblend::BYTEBLEND_TARGET_NAMESPACE

#endif
