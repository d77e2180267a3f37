#include "layout.hpp"

#include <cstddef>

namespace byteblend::python {

std::size_t item_count(const Extents &shape) {
  std::size_t count = 1;
  for (const std::ptrdiff_t length : shape) {
    count *= static_cast<std::size_t>(length);
  }
  return count;
}

Extents contiguous_strides(const Extents &shape) {
  Extents strides(shape.size());
  std::ptrdiff_t stride = 1;
  for (std::size_t axis = shape.size(); axis-- > 0;) {
    strides[axis] = stride;
    stride *= shape[axis];
  }
  return strides;
}

bool is_contiguous(const Extents &shape, const Extents &strides) {
  std::ptrdiff_t expected = 1;
  for (std::size_t axis = shape.size(); axis-- > 0;) {
    if (shape[axis] == 0) {
      return true;
    }
    if (shape[axis] != 1 && strides[axis] != expected) {
      return false;
    }
    expected *= shape[axis];
  }
  return true;
}

bool broadcasts_to(const Extents &from, const Extents &to) {
  if (from.size() > to.size()) {
    return false;
  }
  const std::size_t skipped = to.size() - from.size();
  for (std::size_t axis = 0; axis < from.size(); ++axis) {
    if (from[axis] != 1 && from[axis] != to[skipped + axis]) {
      return false;
    }
  }
  return true;
}

Extents broadcast_strides(const Extents &from, const Extents &strides,
                          const Extents &to) {
  Extents result(to.size());
  const std::size_t skipped = to.size() - from.size();
  for (std::size_t axis = 0; axis < from.size(); ++axis) {
    result[skipped + axis] =
        from[axis] == to[skipped + axis] ? strides[axis] : 0;
  }
  return result;
}

ByteRange byte_range(const Extents &shape, const Strided &array) {
  if (item_count(shape) == 0) {
    return {array.data, array.data};
  }
  std::ptrdiff_t low = 0;
  std::ptrdiff_t high = 0;
  for (std::size_t axis = 0; axis < shape.size(); ++axis) {
    const std::ptrdiff_t reach = array.strides[axis] * (shape[axis] - 1);
    (reach < 0 ? low : high) += reach;
  }
  return {array.data + low, array.data + high + 1};
}

bool ranges_meet(ByteRange one, ByteRange other) {
  return one.first < one.last && other.first < other.last &&
         one.first < other.last && other.first < one.last;
}

} // namespace byteblend::python
