#include "strided_blend.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <span>
#include <vector>

namespace byteblend::python {
namespace {

// Calls visit(offsets) for every index of the first `axes` axes of the
// shape, in C order, with the byte offset of that index in each array.
template <std::size_t N, class Visit>
void for_each_outer_index(const Extents &shape, std::size_t axes,
                          const std::array<const Extents *, N> &strides,
                          Visit visit) {
  std::size_t count = 1;
  for (std::size_t axis = 0; axis < axes; ++axis) {
    count *= static_cast<std::size_t>(shape[axis]);
  }
  Extents index(axes);
  std::array<std::ptrdiff_t, N> offsets{};
  for (std::size_t visited = 0; visited < count; ++visited) {
    visit(offsets);
    for (std::size_t axis = axes; axis-- > 0;) {
      for (std::size_t k = 0; k < N; ++k) {
        offsets[k] += (*strides[k])[axis];
      }
      if (++index[axis] < shape[axis]) {
        break;
      }
      for (std::size_t k = 0; k < N; ++k) {
        offsets[k] -= (*strides[k])[axis] * shape[axis];
      }
      index[axis] = 0;
    }
  }
}

// How many leading axes lie outside the longest trailing block that is one
// contiguous run in all three arrays, and that run's length in bytes.
struct Rows {
  std::size_t outer_axes = 0;
  std::size_t length = 1;
};

Rows common_rows(const Extents &shape,
                 const std::array<const Extents *, 3> &strides) {
  Rows rows{shape.size(), 1};
  while (rows.outer_axes > 0) {
    const std::size_t axis = rows.outer_axes - 1;
    bool joins = shape[axis] == 1;
    if (!joins) {
      joins = true;
      for (const Extents *array : strides) {
        joins =
            joins && (*array)[axis] == static_cast<std::ptrdiff_t>(rows.length);
      }
    }
    if (!joins) {
      break;
    }
    rows.length *= static_cast<std::size_t>(shape[axis]);
    rows.outer_axes = axis;
  }
  return rows;
}

// Copies an array, in C order, into a contiguous buffer, or back from it.
void gather(const Extents &shape, const Strided &array, std::uint8_t *into) {
  if (is_contiguous(shape, array.strides)) {
    std::memcpy(into, array.data, item_count(shape));
    return;
  }
  const std::size_t last = shape.size() - 1;
  const std::ptrdiff_t step = array.strides[last];
  const std::ptrdiff_t length = shape[last];
  for_each_outer_index<1>(shape, last, {&array.strides}, [&](auto offsets) {
    const std::uint8_t *from = array.data + offsets[0];
    for (std::ptrdiff_t i = 0; i < length; ++i) {
      *into++ = from[i * step];
    }
  });
}

void scatter(const Extents &shape, const std::uint8_t *from,
             const Strided &array) {
  const std::size_t last = shape.size() - 1;
  const std::ptrdiff_t step = array.strides[last];
  const std::ptrdiff_t length = shape[last];
  for_each_outer_index<1>(shape, last, {&array.strides}, [&](auto offsets) {
    std::uint8_t *into = array.data + offsets[0];
    for (std::ptrdiff_t i = 0; i < length; ++i) {
      into[i * step] = *from++;
    }
  });
}

} // namespace

CopiesNotAllocated::CopiesNotAllocated(std::size_t bytes_each) {
  std::snprintf(message_.data(), message_.size(),
                "cannot allocate 3 x %zu bytes for contiguous copies of the "
                "arrays, whose rows are not contiguous runs to blend in place",
                bytes_each);
}

const char *CopiesNotAllocated::what() const noexcept {
  return message_.data();
}

void copy_to_contiguous(const Extents &shape, const Strided &array,
                        std::uint8_t *into) {
  if (item_count(shape) != 0) {
    gather(shape, array, into);
  }
}

void blend_arrays(Mode mode, const Extents &shape, const Strided &top,
                  const Strided &bottom, const Strided &result,
                  const Options &options) {
  const std::size_t count = item_count(shape);
  if (count == 0) {
    return;
  }
  const Rows rows =
      common_rows(shape, {&top.strides, &bottom.strides, &result.strides});
  if (rows.outer_axes == 0) {
    blend(mode, {top.data, count}, {bottom.data, count}, {result.data, count},
          options);
    return;
  }
  // A row starts at a multiple of its length, so rows of whole pixels keep
  // the channel modes on their channel.
  if (rows.length >= shortest_row &&
      (!is_channel_mode(mode) || rows.length % 3 == 0)) {
    const Options one_thread{.threads = 1, .chunk = options.chunk};
    for_each_outer_index<3>(
        shape, rows.outer_axes,
        {&top.strides, &bottom.strides, &result.strides}, [&](auto offsets) {
          blend(mode, {top.data + offsets[0], rows.length},
                {bottom.data + offsets[1], rows.length},
                {result.data + offsets[2], rows.length}, one_thread);
        });
    return;
  }
  // The channel modes keep result's other two channels, so result is copied
  // in as well as out.
  std::vector<std::uint8_t> copies;
  if (count > copies.max_size() / 3) {
    throw CopiesNotAllocated(count);
  }
  try {
    copies.resize(3 * count);
  } catch (const std::bad_alloc &) {
    throw CopiesNotAllocated(count);
  }
  const std::span<std::uint8_t> top_copy(copies.data(), count);
  const std::span<std::uint8_t> bottom_copy(copies.data() + count, count);
  const std::span<std::uint8_t> result_copy(copies.data() + 2 * count, count);
  gather(shape, top, top_copy.data());
  gather(shape, bottom, bottom_copy.data());
  gather(shape, result, result_copy.data());
  blend(mode, top_copy, bottom_copy, result_copy, options);
  scatter(shape, result_copy.data(), result);
}

} // namespace byteblend::python
