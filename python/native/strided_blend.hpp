// SPDX-License-Identifier: MIT
// Blends three arrays of one shape whatever their strides: one run of bytes
// when all three are contiguous, row by row when they share long contiguous
// rows, and otherwise through contiguous copies.
#ifndef BYTEBLEND_PYTHON_STRIDED_BLEND_HPP
#define BYTEBLEND_PYTHON_STRIDED_BLEND_HPP

#include <byteblend.hpp>

#include <array>
#include <cstddef>
#include <new>

#include "layout.hpp"

namespace byteblend::python {

// Thrown when the contiguous copies of arrays that cannot be blended in
// place do not fit in memory; what() says how large they were. It is a
// std::bad_alloc, which nanobind raises as MemoryError with that text. The
// text lives in the object, so throwing it allocates nothing.
class CopiesNotAllocated : public std::bad_alloc {
public:
  explicit CopiesNotAllocated(std::size_t bytes_each);
  [[nodiscard]] const char *what() const noexcept override;

private:
  std::array<char, 160> message_{};
};

// Rows shorter than this go through copies: a kernel call per few bytes
// costs more than copying them.
inline constexpr std::size_t shortest_row = 64;

// Blends top onto bottom into result, index by index of the shape. result
// may be top or bottom itself (the same data and strides) but must not
// otherwise overlap them. Contiguous arrays and copies are blended with
// options.threads; rows, each short, one after another on this thread.
// Throws CopiesNotAllocated when the copies cannot be had.
void blend_arrays(Mode mode, const Extents &shape, const Strided &top,
                  const Strided &bottom, const Strided &result,
                  const Options &options);

// Copies an array, in C order, into a contiguous buffer of its size.
void copy_to_contiguous(const Extents &shape, const Strided &array,
                        std::uint8_t *into);

} // namespace byteblend::python

#endif
