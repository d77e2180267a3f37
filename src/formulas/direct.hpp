// Formulas that work on the byte values 0..255 themselves. Each is a
// template over a lane kit, so one definition serves the plain route and
// every vector route; t is the top value and b the bottom value.
#ifndef BYTEBLEND_FORMULAS_DIRECT_HPP
#define BYTEBLEND_FORMULAS_DIRECT_HPP

#include "../clamp.hpp"

namespace byteblend::BYTEBLEND_TARGET_NAMESPACE {

// t * b / 255 rounded to the nearest integer; the quotient is never halfway,
// so adding 127 before the integer division rounds it. t * b + 127 fits in
// 16 bits.
template <class L>
typename L::Bytes multiply_rounded(typename L::Bytes t, typename L::Bytes b) {
  return L::on_words(t, b, [](auto x, auto y) { return (x * y + 127) / 255; });
}

// t + b, clamped to 255.
struct Addition {
  template <class L>
  static typename L::Bytes apply(typename L::Bytes t, typename L::Bytes b) {
    return L::add_saturate(t, b);
  }
};

// t - b, clamped to 0.
struct Subtraction {
  template <class L>
  static typename L::Bytes apply(typename L::Bytes t, typename L::Bytes b) {
    return L::subtract_saturate(t, b);
  }
};

struct Multiplication {
  template <class L>
  static typename L::Bytes apply(typename L::Bytes t, typename L::Bytes b) {
    return multiply_rounded<L>(t, b);
  }
};

struct Lighten {
  template <class L>
  static typename L::Bytes apply(typename L::Bytes t, typename L::Bytes b) {
    return maximum(t, b);
  }
};

struct Darken {
  template <class L>
  static typename L::Bytes apply(typename L::Bytes t, typename L::Bytes b) {
    return minimum(t, b);
  }
};

// Half of each, summed and truncated: (t + b) / 2 rounded down, which is the
// shared bits plus half of the differing ones, and never leaves 0..255.
struct Opacity {
  template <class L>
  static typename L::Bytes apply(typename L::Bytes t, typename L::Bytes b) {
    return (t & b) + ((t ^ b) >> 1);
  }
};

} // namespace byteblend::BYTEBLEND_TARGET_NAMESPACE

#endif
