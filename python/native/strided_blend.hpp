// Blends three arrays of one shape whatever their strides: one run of bytes
// when all three are contiguous, row by row when they share long contiguous
// rows, and otherwise through contiguous copies.
#ifndef BYTEBLEND_PYTHON_STRIDED_BLEND_HPP
#define BYTEBLEND_PYTHON_STRIDED_BLEND_HPP

#include <byteblend.hpp>

#include "layout.hpp"

namespace byteblend::python {

// Rows shorter than this go through copies: a kernel call per few bytes
// costs more than copying them.
inline constexpr std::size_t shortest_row = 64;

// Blends top onto bottom into result, index by index of the shape. result
// may be top or bottom itself (the same data and strides) but must not
// otherwise overlap them. Contiguous arrays and copies are blended with
// options.threads; rows, each short, one after another on this thread.
void blend_arrays(Mode mode, const Extents &shape, const Strided &top,
                  const Strided &bottom, const Strided &result,
                  const Options &options);

// Copies an array, in C order, into a contiguous buffer of its size.
void copy_to_contiguous(const Extents &shape, const Strided &array,
                        std::uint8_t *into);

} // namespace byteblend::python

#endif
