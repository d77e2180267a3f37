// SPDX-License-Identifier: MIT
// Blends three arrays of one shape whatever their strides: one run of bytes
// when all three are contiguous, and otherwise as image views of up to three
// axes, blended row by row by byteblend::blend_rows (the walk of the image
// blend), arrays of more axes one such block at a time.
#ifndef BYTEBLEND_PYTHON_STRIDED_BLEND_HPP
#define BYTEBLEND_PYTHON_STRIDED_BLEND_HPP

#include <byteblend.hpp>

#include <cstdint>

#include "layout.hpp"

namespace byteblend::python {

// Blends top onto bottom into result, index by index of the shape, as the
// kernel blends the three in C order, one byte of the arrays' last axis
// after another (a channel mode's channel is the last index, or in a 1-D
// array the index modulo 3). result may be top or bottom itself (the same
// data and strides) but must not otherwise overlap them. Split across
// options.threads threads as the flat and the image blend() are. An
// options.opacity whose byte is not 255 mixes each blended byte with
// bottom's by the layers library (byteblend::blend_with_opacity); at 255 the
// plain kernels run as they always have.
void blend_arrays(Mode mode, const Extents &shape, const Strided &top,
                  const Strided &bottom, const Strided &result,
                  const Options &options);

// Copies an array, in C order, into a contiguous buffer of its size, on
// options.threads threads as a blend in `mode` of that size would be.
void copy_to_contiguous(Mode mode, const Extents &shape, const Strided &array,
                        std::uint8_t *into, const Options &options);

} // namespace byteblend::python

#endif
