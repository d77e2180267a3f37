// SPDX-License-Identifier: MIT
// Shapes and byte strides of the arrays that the package blends: which
// arrays are one contiguous run, and which bytes of memory an array spans.
// Every item is one byte, so strides count bytes.
#ifndef BYTEBLEND_PYTHON_LAYOUT_HPP
#define BYTEBLEND_PYTHON_LAYOUT_HPP

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace byteblend::python {

// numpy's and the buffer protocol's limit on the number of axes.
inline constexpr std::size_t most_axes = 64;

// A shape or strides, one value an axis, held inline so that a blend call
// allocates nothing.
class Extents {
public:
  Extents() = default;
  explicit Extents(std::size_t axes) : count_(axes) {}

  // Takes the values of [first, last), at most most_axes of them.
  template <class Iterator> void assign(Iterator first, Iterator last) {
    count_ = 0;
    for (; first != last && count_ < most_axes; ++first) {
      values_[count_++] = static_cast<std::ptrdiff_t>(*first);
    }
  }

  [[nodiscard]] std::size_t size() const { return count_; }
  [[nodiscard]] bool empty() const { return count_ == 0; }
  std::ptrdiff_t &operator[](std::size_t axis) { return values_[axis]; }
  const std::ptrdiff_t &operator[](std::size_t axis) const {
    return values_[axis];
  }
  [[nodiscard]] std::ptrdiff_t back() const { return values_[count_ - 1]; }
  [[nodiscard]] const std::ptrdiff_t *begin() const { return values_.data(); }
  [[nodiscard]] const std::ptrdiff_t *end() const {
    return values_.data() + count_;
  }

  friend bool operator==(const Extents &one, const Extents &other) {
    return std::equal(one.begin(), one.end(), other.begin(), other.end());
  }

private:
  std::array<std::ptrdiff_t, most_axes> values_{};
  std::size_t count_ = 0;
};

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

// Whether an array of shape `from` broadcasts to shape `to` by numpy's
// rules, with `to` kept whole: `from` has no more axes than `to`, and each of
// its axes, matched from the last, is as long as `to`'s or 1.
[[nodiscard]] bool broadcasts_to(const Extents &from, const Extents &to);

// The strides that read an array of shape `from` as one of shape `to`: its
// own strides on matching axes, 0 on the axes it is repeated along. `from`
// must broadcast to `to`.
[[nodiscard]] Extents broadcast_strides(const Extents &from,
                                        const Extents &strides,
                                        const Extents &to);

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
