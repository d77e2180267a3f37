#include "strided_blend.hpp"

#include <byteblend_image.hpp>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace byteblend::python {
namespace {

// The three arrays of a blend: top, bottom, result.
using Three = std::array<Strided, 3>;

// A line of pixels is blended as rows of this many, a multiple of 3 so that
// every row starts on a pixel's first byte (a 1-D array's channel 0), and
// the rows can be shared out between threads.
constexpr std::size_t pixels_a_row = 3 * 4096;

// Blends `height` rows of `width` pixels of `channels` bytes, laid out in
// each array by its steps.
template <class RowBlend>
void blend_views(Mode mode, std::size_t width, std::size_t height,
                 std::size_t channels, const std::array<std::uint8_t *, 3> &at,
                 const std::array<ImageSteps, 3> &steps, const Options &options,
                 const RowBlend &row_blend) {
  blend_rows(mode, ImageView(at[0], width, height, channels, steps[0]),
             ImageView(at[1], width, height, channels, steps[1]),
             MutableImageView(at[2], width, height, channels, steps[2]),
             options, row_blend);
}

// A line of `pixels` pixels of `channels` bytes, each array's `pixel` and
// `channel` strides apart: rows of pixels_a_row pixels, then the rest.
template <class RowBlend>
void blend_line(Mode mode, std::size_t pixels, std::size_t channels,
                const Three &arrays, std::size_t pixel_axis,
                const Options &options, const RowBlend &row_blend) {
  const std::size_t rows = pixels / pixels_a_row;
  const std::size_t rest = pixels % pixels_a_row;
  std::array<std::uint8_t *, 3> at{};
  std::array<ImageSteps, 3> steps{};
  std::array<std::uint8_t *, 3> rest_at{};
  for (std::size_t k = 0; k < 3; ++k) {
    const std::ptrdiff_t pixel = arrays[k].strides[pixel_axis];
    const std::ptrdiff_t channel =
        channels == 1 ? 1 : arrays[k].strides[pixel_axis + 1];
    at[k] = arrays[k].data;
    steps[k] = {static_cast<std::ptrdiff_t>(pixels_a_row) * pixel, pixel,
                channel};
    rest_at[k] = at[k] + static_cast<std::ptrdiff_t>(rows) * steps[k].row;
  }
  blend_views(mode, pixels_a_row, rows, channels, at, steps, options,
              row_blend);
  blend_views(mode, rest, 1, channels, rest_at, steps, options, row_blend);
}

// Arrays of at most three axes: as image views of their rows, pixels and
// channels (the last axis). A 2-D array whose rows are a few bytes, such as
// a list of colours, is a line of pixels; other 2-D arrays are grey.
template <class RowBlend>
void blend_block(Mode mode, const Extents &shape, const Three &arrays,
                 const Options &options, const RowBlend &row_blend) {
  constexpr std::ptrdiff_t longest_pixel = 4;
  if (shape.size() == 1 || (shape.size() == 2 && shape[1] <= longest_pixel)) {
    blend_line(mode, static_cast<std::size_t>(shape[0]),
               shape.size() == 1 ? 1 : static_cast<std::size_t>(shape[1]),
               arrays, 0, options, row_blend);
    return;
  }
  const std::size_t channels =
      shape.size() == 3 ? static_cast<std::size_t>(shape[2]) : 1;
  std::array<std::uint8_t *, 3> at{};
  std::array<ImageSteps, 3> steps{};
  for (std::size_t k = 0; k < 3; ++k) {
    const Extents &strides = arrays[k].strides;
    at[k] = arrays[k].data;
    steps[k] = {strides[0], strides[1], shape.size() == 3 ? strides[2] : 1};
  }
  blend_views(mode, static_cast<std::size_t>(shape[1]),
              static_cast<std::size_t>(shape[0]), channels, at, steps, options,
              row_blend);
}

// Any number of axes: the last three as blocks, for each index of the
// others in C order.
template <class RowBlend>
void blend_strided(Mode mode, const Extents &shape, const Three &arrays,
                   const Options &options, const RowBlend &row_blend) {
  constexpr std::size_t block_axes = 3;
  if (shape.size() <= block_axes) {
    blend_block(mode, shape, arrays, options, row_blend);
    return;
  }
  const std::size_t outer = shape.size() - block_axes;
  Extents block(block_axes);
  Three inner = arrays;
  for (std::size_t k = 0; k < 3; ++k) {
    inner[k].strides = Extents(block_axes);
    for (std::size_t axis = 0; axis < block_axes; ++axis) {
      block[axis] = shape[outer + axis];
      inner[k].strides[axis] = arrays[k].strides[outer + axis];
    }
  }
  Extents index(outer);
  while (true) {
    blend_block(mode, block, inner, options, row_blend);
    std::size_t axis = outer;
    for (; axis-- > 0;) {
      for (std::size_t k = 0; k < 3; ++k) {
        inner[k].data += arrays[k].strides[axis];
      }
      if (++index[axis] < shape[axis]) {
        break;
      }
      for (std::size_t k = 0; k < 3; ++k) {
        inner[k].data -= arrays[k].strides[axis] * shape[axis];
      }
      index[axis] = 0;
    }
    if (axis == static_cast<std::size_t>(-1)) {
      return;
    }
  }
}

} // namespace

void copy_to_contiguous(Mode mode, const Extents &shape, const Strided &array,
                        std::uint8_t *into, const Options &options) {
  if (item_count(shape) == 0) {
    return;
  }
  blend_strided(mode, shape, {array, array, {into, contiguous_strides(shape)}},
                options,
                [](const std::uint8_t * /*top*/, const std::uint8_t *from,
                   std::uint8_t *to,
                   std::size_t bytes) { std::memcpy(to, from, bytes); });
}

void blend_arrays(Mode mode, const Extents &shape, const Strided &top,
                  const Strided &bottom, const Strided &result,
                  const Options &options) {
  const std::size_t count = item_count(shape);
  if (count == 0) {
    return;
  }
  const bool contiguous = is_contiguous(shape, top.strides) &&
                          is_contiguous(shape, bottom.strides) &&
                          is_contiguous(shape, result.strides);
  if (contiguous) {
    blend(mode, {top.data, count}, {bottom.data, count}, {result.data, count},
          options);
    return;
  }
  const Options one_thread{.threads = 1, .chunk = options.chunk};
  blend_strided(mode, shape, {top, bottom, result}, options,
                [mode, one_thread](const std::uint8_t *t, const std::uint8_t *b,
                                   std::uint8_t *r, std::size_t bytes) {
                  blend(mode, std::span{t, bytes}, std::span{b, bytes},
                        std::span{r, bytes}, one_thread);
                });
}

} // namespace byteblend::python
