// SPDX-License-Identifier: MIT
// Formulas that work on the byte values 0..255 themselves. Each is a
// template over a lane kit, so one definition serves the plain route and
// every vector route; t is the top value and b the bottom value.
#ifndef BYTEBLEND_FORMULAS_DIRECT_HPP
#define BYTEBLEND_FORMULAS_DIRECT_HPP

#include "../clamp.hpp"

namespace byteblend::BYTEBLEND_TARGET_NAMESPACE {

// round(p / 255) for a product p of two bytes (p <= 65025) is
// (w + (w >> 8)) >> 8 with w = p + 128, which equals (w * 257) >> 16: the
// high half of one 16-bit multiply, where a division by a constant would
// take two multiplies and a shift. w fits in 16 bits.
template <class L, class W> W divide_by_255_rounded(W p) {
  return L::multiply_high(p + 128, 257);
}

// round(2 p / 255) the same way: (2 p + 128) * 257 = (p + 64) * 514. It
// takes p + 64, which a kit's on_products_plus forms with the product.
template <class L, class W>
W divide_by_255_rounded_doubled_from_p_plus_64(W p_plus_64) {
  return L::multiply_high(p_plus_64, 514);
}

// t * b / 255 rounded to the nearest integer (never halfway), on byte
// values held in wider lanes.
template <class L, class W> W multiply_rounded_words(W t, W b) {
  return divide_by_255_rounded<L>(t * b);
}

template <class L>
typename L::Bytes multiply_rounded(typename L::Bytes t, typename L::Bytes b) {
  return L::on_words(
      t, b, [](auto x, auto y) { return multiply_rounded_words<L>(x, y); });
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

// A formula that computes in 16-bit words may also offer its byte in words:
// apply_words from the byte values in the kit's words (L::on_words),
// leaving the byte's value in those lanes. The layers mix those words with
// the bottom's by an opacity without packing them to bytes and back.
struct Multiplication {
  template <class L>
  static typename L::Bytes apply(typename L::Bytes t, typename L::Bytes b) {
    return multiply_rounded<L>(t, b);
  }
  template <class L, class W> static W apply_words(W t, W b) {
    return multiply_rounded_words<L>(t, b);
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

// Half of each, summed and truncated: (t + b) / 2 rounded down. The byte
// average instruction rounds up instead; on the complements (255 - x) it
// gives 255 - (t + b) / 2 rounded down, so complementing its result gives
// the truncated mean. x86 has no byte shift, so this is three XORs and one
// average where (t & b) + ((t ^ b) >> 1) needs a word shift and a mask too.
struct Opacity {
  template <class L>
  static typename L::Bytes apply(typename L::Bytes t, typename L::Bytes b) {
    return L::average_rounding_up(t ^ 255, b ^ 255) ^ 255;
  }
};

} // namespace byteblend::BYTEBLEND_TARGET_NAMESPACE

#endif
