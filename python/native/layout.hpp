// Shapes and byte strides of the arrays that the package blends: which
// arrays are one contiguous run, and which bytes of memory an array spans.
// Every item is one byte, so strides count bytes.
#ifndef BYTEBLEND_PYTHON_LAYOUT_HPP
#define BYTEBLEND_PYTHON_LAYOUT_HPP

#include <cstddef>
#include <cstdint>
#include <vector>

namespace byteblend::python {

using Extents = std::vector<std::ptrdiff_t>;

// One array: its first item and its strides, for a shape given beside it.
struct Strided {
  std::uint8_t *data = nullptr;
  Extents strides;
};

// The number of items of an array of this shape.
[[nodiscard]] std::size_t item_count(const Extents &shape);

// The strides of a C-ordered, contiguous array of this shape.
[[nodiscard]] Extents contiguous_strides(const Extents &shape);

// Whether the array is one run of bytes in C order. Axes of length 1 may
// have any stride, as numpy gives them.
[[nodiscard]] bool is_contiguous(const Extents &shape, const Extents &strides);

// The lowest address the array touches and one past the highest; an empty
// array spans nothing (first == last).
struct ByteRange {
  const std::uint8_t *first = nullptr;
  const std::uint8_t *last = nullptr;
};
[[nodiscard]] ByteRange byte_range(const Extents &shape, const Strided &array);

// Whether two ranges share a byte.
[[nodiscard]] bool ranges_meet(ByteRange one, ByteRange other);

} // namespace byteblend::python

#endif
