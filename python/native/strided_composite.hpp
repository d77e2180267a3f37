// SPDX-License-Identifier: MIT
// Composites arrays of pixels whatever their strides, through
// byteblend::composite on image views: the pixels of arrays that are all
// contiguous as one line, otherwise an array's last two pixel axes as an
// image, its other pixel axes one such image at a time.
#ifndef BYTEBLEND_PYTHON_STRIDED_COMPOSITE_HPP
#define BYTEBLEND_PYTHON_STRIDED_COMPOSITE_HPP

#include <byteblend_layers.hpp>

#include <array>
#include <cstddef>

#include "layout.hpp"

namespace byteblend::python {

// One array of a composite: its bytes, with one stride an axis of `pixels`
// and then the stride of its last axis, which holds `channels` values (3 or
// 4) a pixel.
struct PixelArray {
  Strided layout;
  std::size_t channels = 0;
};

// Composites top onto bottom into result, pixel by pixel, where `pixels` is
// the shape the three share but for their last axis, as byteblend::composite
// does with `options` (opacity, operator, threads, chunk). result has
// bottom's channels, and may be bottom itself or top itself (where top has
// as many channels), but must not otherwise share bytes with them.
void composite_arrays(LayerMode mode, const Extents &pixels,
                      const std::array<PixelArray, 3> &arrays,
                      const Options &options);

} // namespace byteblend::python

#endif
