#include "strided_blend.hpp"

#include <byteblend_image.hpp>
#include <byteblend_layers.hpp>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace byteblend::python {
namespace {

// The three arrays of a blend: top, bottom, result.
using Three = std::array<Strided, 3>;

// A line of pixels is blended as rows of this many, so that the rows can
// be shared out between threads.
constexpr std::size_t pixels_a_row = 4096;

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

// A line of `pixels` pixels of `channels` bytes, then a last pixel of
// `extra` bytes, in each array `steps` apart (their row unused): rows of
// pixels_a_row pixels, then the rest.
template <class RowBlend>
void blend_line(Mode mode, std::size_t pixels, std::size_t channels,
                std::size_t extra, std::array<std::uint8_t *, 3> at,
                std::array<ImageSteps, 3> steps, const Options &options,
                const RowBlend &row_blend) {
  const std::size_t rows = pixels / pixels_a_row;
  std::array<std::uint8_t *, 3> rest_at{};
  std::array<std::uint8_t *, 3> extra_at{};
  for (std::size_t k = 0; k < 3; ++k) {
    steps[k].row = static_cast<std::ptrdiff_t>(pixels_a_row) * steps[k].pixel;
    rest_at[k] = at[k] + static_cast<std::ptrdiff_t>(rows) * steps[k].row;
    extra_at[k] = at[k] + static_cast<std::ptrdiff_t>(pixels) * steps[k].pixel;
  }
  blend_views(mode, pixels_a_row, rows, channels, at, steps, options,
              row_blend);
  blend_views(mode, pixels % pixels_a_row, 1, channels, rest_at, steps, options,
              row_blend);
  blend_views(mode, extra == 0 ? 0 : 1, 1, std::max<std::size_t>(extra, 1),
              extra_at, steps, options, row_blend);
}

// Arrays of at most three axes: as image views of their rows, pixels and
// channels (the last axis). A 2-D array whose rows are a few bytes, such as
// a list of colours, is a line of pixels; other 2-D arrays are grey.
template <class RowBlend>
void blend_block(Mode mode, const Extents &shape, const Three &arrays,
                 const Options &options, const RowBlend &row_blend) {
  std::array<std::uint8_t *, 3> at{};
  std::array<ImageSteps, 3> steps{};
  const std::size_t axes = shape.size();
  for (std::size_t k = 0; k < 3; ++k) {
    const Extents &strides = arrays[k].strides;
    at[k] = arrays[k].data;
    steps[k] = {strides[0], axes == 1 ? 3 * strides[0] : strides[1],
                axes == 1 ? strides[0] : strides[axes - 1]};
  }
  const auto length = [&shape](std::size_t axis) {
    return static_cast<std::size_t>(shape[axis]);
  };
  // The channel modes' pixels in a 1-D array are its bytes three by three.
  if (axes == 1) {
    blend_line(mode, length(0) / 3, 3, length(0) % 3, at, steps, options,
               row_blend);
  } else if (axes == 2 && length(1) <= 4) {
    for (ImageSteps &each : steps) {
      each.pixel = each.row;
    }
    blend_line(mode, length(0), length(1), 0, at, steps, options, row_blend);
  } else {
    blend_views(mode, length(1), length(0), axes == 3 ? length(2) : 1, at,
                steps, options, row_blend);
  }
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

namespace {

// The flat blend of byte runs: the plain kernels at full opacity, as ever,
// and the layers library's byte-by-byte mix for any other opacity byte.
void blend_run(Mode mode, bool full_opacity, std::span<const std::uint8_t> top,
               std::span<const std::uint8_t> bottom,
               std::span<std::uint8_t> result, const Options &options) {
  if (full_opacity) {
    blend(mode, top, bottom, result, options);
  } else {
    blend_with_opacity(mode, top, bottom, result, options);
  }
}

} // namespace

void blend_arrays(Mode mode, const Extents &shape, const Strided &top,
                  const Strided &bottom, const Strided &result,
                  const Options &options) {
  const std::size_t count = item_count(shape);
  if (count == 0) {
    return;
  }
  const bool full_opacity = opacity_byte(options.opacity) == 255;
  const bool contiguous = is_contiguous(shape, top.strides) &&
                          is_contiguous(shape, bottom.strides) &&
                          is_contiguous(shape, result.strides);
  if (contiguous) {
    blend_run(mode, full_opacity, {top.data, count}, {bottom.data, count},
              {result.data, count}, options);
    return;
  }
  const Options one_thread{
      .threads = 1, .chunk = options.chunk, .opacity = options.opacity};
  blend_strided(mode, shape, {top, bottom, result}, options,
                [mode, full_opacity,
                 one_thread](const std::uint8_t *t, const std::uint8_t *b,
                             std::uint8_t *r, std::size_t bytes) {
                  blend_run(mode, full_opacity, std::span{t, bytes},
                            std::span{b, bytes}, std::span{r, bytes},
                            one_thread);
                });
}

} // namespace byteblend::python
