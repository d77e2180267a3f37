#include "strided_composite.hpp"

#include <byteblend_image.hpp>

#include <array>
#include <cstddef>
#include <cstdint>

namespace byteblend::python {
namespace {

using Three = std::array<PixelArray, 3>;

// A line of pixels is composited as rows of this many, so that the rows can
// be shared out between threads (as the strided blend does).
constexpr std::size_t pixels_a_row = 4096;

// `height` rows of `width` pixels, laid out in each array by its steps.
void composite_views(LayerMode mode, std::size_t width, std::size_t height,
                     const Three &arrays,
                     const std::array<std::uint8_t *, 3> &at,
                     const std::array<ImageSteps, 3> &steps,
                     const Options &options) {
  composite(
      mode, ImageView(at[0], width, height, arrays[0].channels, steps[0]),
      ImageView(at[1], width, height, arrays[1].channels, steps[1]),
      MutableImageView(at[2], width, height, arrays[2].channels, steps[2]),
      options);
}

// A line of `count` pixels, each array's `pixel_steps[k]` bytes apart: rows
// of pixels_a_row pixels, then the rest.
void composite_line(LayerMode mode, std::size_t count, const Three &arrays,
                    const std::array<std::uint8_t *, 3> &at,
                    const std::array<std::ptrdiff_t, 3> &pixel_steps,
                    const Options &options) {
  const std::size_t rows = count / pixels_a_row;
  std::array<ImageSteps, 3> steps{};
  std::array<std::uint8_t *, 3> rest_at{};
  for (std::size_t k = 0; k < 3; ++k) {
    const Extents &strides = arrays[k].layout.strides;
    steps[k] = {static_cast<std::ptrdiff_t>(pixels_a_row) * pixel_steps[k],
                pixel_steps[k], strides[strides.size() - 1]};
    rest_at[k] = at[k] + static_cast<std::ptrdiff_t>(rows) * steps[k].row;
  }
  composite_views(mode, pixels_a_row, rows, arrays, at, steps, options);
  composite_views(mode, count % pixels_a_row, 1, arrays, rest_at, steps,
                  options);
}

// Pixels of at most two axes, starting at `at`: one pixel, a line of
// pixels, or an image of rows.
void composite_block(LayerMode mode, const Extents &pixels, const Three &arrays,
                     const std::array<std::uint8_t *, 3> &at,
                     const Options &options) {
  std::array<ImageSteps, 3> steps{};
  std::array<std::ptrdiff_t, 3> pixel_steps{};
  const std::size_t axes = pixels.size();
  for (std::size_t k = 0; k < 3; ++k) {
    const Extents &strides = arrays[k].layout.strides;
    const std::ptrdiff_t channel = strides[axes];
    const std::ptrdiff_t pixel =
        axes == 0 ? static_cast<std::ptrdiff_t>(arrays[k].channels) * channel
                  : strides[axes - 1];
    steps[k] = {axes == 2 ? strides[0] : pixel, pixel, channel};
    pixel_steps[k] = pixel;
  }
  if (axes == 2) {
    composite_views(mode, static_cast<std::size_t>(pixels[1]),
                    static_cast<std::size_t>(pixels[0]), arrays, at, steps,
                    options);
  } else {
    composite_line(mode, axes == 0 ? 1 : static_cast<std::size_t>(pixels[0]),
                   arrays, at, pixel_steps, options);
  }
}

} // namespace

void composite_arrays(LayerMode mode, const Extents &pixels,
                      const Three &arrays, const Options &options) {
  const std::size_t count = item_count(pixels);
  std::array<std::uint8_t *, 3> at{};
  bool contiguous = true;
  for (std::size_t k = 0; k < 3; ++k) {
    at[k] = arrays[k].layout.data;
    Extents shape(pixels.size() + 1);
    for (std::size_t axis = 0; axis < pixels.size(); ++axis) {
      shape[axis] = pixels[axis];
    }
    shape[pixels.size()] = static_cast<std::ptrdiff_t>(arrays[k].channels);
    contiguous = contiguous && is_contiguous(shape, arrays[k].layout.strides);
  }
  // composite() checks its arguments even for no pixels.
  if (count == 0 || contiguous) {
    std::array<std::ptrdiff_t, 3> pixel_steps{};
    for (std::size_t k = 0; k < 3; ++k) {
      pixel_steps[k] = static_cast<std::ptrdiff_t>(arrays[k].channels);
    }
    Three packed = arrays;
    for (PixelArray &array : packed) {
      array.layout.strides = Extents(1);
      array.layout.strides[0] = 1;
    }
    composite_line(mode, count, packed, at, pixel_steps, options);
    return;
  }
  // The last two pixel axes as images, for each index of the others in C
  // order.
  constexpr std::size_t block_axes = 2;
  const std::size_t outer =
      pixels.size() > block_axes ? pixels.size() - block_axes : 0;
  Extents block(pixels.size() - outer);
  Three inner = arrays;
  for (std::size_t axis = 0; axis < block.size(); ++axis) {
    block[axis] = pixels[outer + axis];
  }
  for (std::size_t k = 0; k < 3; ++k) {
    const Extents &strides = arrays[k].layout.strides;
    inner[k].layout.strides.assign(strides.begin() + outer, strides.end());
  }
  Extents index(outer);
  while (true) {
    composite_block(mode, block, inner, at, options);
    std::size_t axis = outer;
    for (; axis-- > 0;) {
      for (std::size_t k = 0; k < 3; ++k) {
        at[k] += arrays[k].layout.strides[axis];
      }
      if (++index[axis] < pixels[axis]) {
        break;
      }
      for (std::size_t k = 0; k < 3; ++k) {
        at[k] -= arrays[k].layout.strides[axis] * pixels[axis];
      }
      index[axis] = 0;
    }
    if (axis == static_cast<std::size_t>(-1)) {
      return;
    }
  }
}

} // namespace byteblend::python
