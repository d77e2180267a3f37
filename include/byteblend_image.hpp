// SPDX-License-Identifier: MIT
// byteblend for images in C++20: views of 8-bit images whose rows may be
// padded or lie inside a larger image, and a blend() over three of them.
// Header-only, on top of byteblend.hpp; link libbyteblend as for C.
//
//   byteblend::MutableImageView photo(pixels, 640, 480, 4);
//   byteblend::MutableImageView corner(photo, 500, 400, 128, 64);
//   byteblend::blend(byteblend::Mode::screen, logo, corner, corner);
#ifndef BYTEBLEND_IMAGE_HPP
#define BYTEBLEND_IMAGE_HPP

// As in byteblend.hpp: one clear error for a compiler before C++20.
#if __cplusplus < 202002L
#error "byteblend_image.hpp needs C++20 (compile with -std=c++20 or later)"
#else

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "byteblend.hpp"

namespace byteblend {

namespace detail {

// The bytes of one row of pixels; throws when the channel count is not 1
// (grey), 3 (RGB) or 4 (RGBA) (or, for any_count, is 0), or when the row
// does not fit in memory.
inline std::size_t row_bytes(std::size_t width, std::size_t channels,
                             bool any_count = false) {
  if (any_count ? channels == 0
                : channels != 1 && channels != 3 && channels != 4) {
    throw std::invalid_argument("byteblend: an image has 1, 3 or 4 channels, "
                                "not " +
                                std::to_string(channels));
  }
  if (width >
      static_cast<std::size_t>(std::numeric_limits<std::ptrdiff_t>::max()) /
          channels) {
    throw std::invalid_argument("byteblend: a row of " + std::to_string(width) +
                                " pixels is too large");
  }
  return width * channels;
}

// "WIDTHxHEIGHTxCHANNELS", for messages.
inline std::string describe(std::size_t width, std::size_t height,
                            std::size_t channels) {
  return std::to_string(width) + 'x' + std::to_string(height) + 'x' +
         std::to_string(channels);
}

} // namespace detail

// Where the bytes of an image lie, counted from its first pixel's first
// byte: each row `row` bytes after the one above it, each pixel `pixel`
// bytes after the one on its left, each channel `channel` bytes after the
// one before it. Any may be negative or 0, as a numpy view's strides are
// (image[::-1], image[:, ::2], image[:, :, ::-1], a transposed image, an
// array broadcast along an axis).
struct ImageSteps {
  std::ptrdiff_t row = 0;
  std::ptrdiff_t pixel = 0;
  std::ptrdiff_t channel = 1;
};

// An 8-bit image that the view does not own: `height` rows of `width`
// pixels of `channels` bytes each (1 grey, 3 RGB, 4 RGBA, red first), each
// row `stride` bytes after the one above it, and the pixels of a row packed
// one after another; or, in the general form, laid out by ImageSteps. Byte
// is std::uint8_t for a writable view and const std::uint8_t for a
// read-only one; a writable view converts to a read-only one.
template <class Byte> class BasicImageView {
  static_assert(std::is_same_v<std::remove_const_t<Byte>, std::uint8_t>);

public:
  // Rows `stride` bytes apart; throws std::invalid_argument when the
  // channels are not 1, 3 or 4, the stride is below width * channels, the
  // image does not fit in memory, or data is null for a non-empty image.
  // An empty image (0 wide or 0 high, as numpy's arrays of shape (0, W, 3)
  // are) touches no byte, so any stride and pointer do for it.
  BasicImageView(Byte *data, std::size_t width, std::size_t height,
                 std::size_t channels, std::size_t stride)
      : data_(data), width_(width), height_(height),
        channels_(channels), steps_{static_cast<std::ptrdiff_t>(stride),
                                    static_cast<std::ptrdiff_t>(channels), 1} {
    const std::size_t length = detail::row_bytes(width, channels);
    if (length == 0 || height == 0) {
      return;
    }
    if (stride < length) {
      throw std::invalid_argument(
          "byteblend: a stride of " + std::to_string(stride) +
          " bytes is shorter than a row of " + std::to_string(length));
    }
    constexpr auto largest =
        static_cast<std::size_t>(std::numeric_limits<std::ptrdiff_t>::max());
    if (height > 1 && (height - 1 > (largest - length) / stride)) {
      throw std::invalid_argument(
          "byteblend: an image of " + std::to_string(height) + " rows of " +
          std::to_string(stride) + " bytes is too large");
    }
    if (data == nullptr) {
      throw std::invalid_argument("byteblend: no pixels for a " +
                                  detail::describe(width, height, channels) +
                                  " image");
    }
  }

  // Rows packed one after another.
  BasicImageView(Byte *data, std::size_t width, std::size_t height,
                 std::size_t channels)
      : BasicImageView(data, width, height, channels,
                       detail::row_bytes(width, channels)) {}

  // The general form: bytes wherever `steps` puts them, and any number of
  // channels, as a numpy array's last axis may hold (blend() takes 1, 3 or
  // 4; blend_rows() any). Throws std::invalid_argument for 0 channels, when
  // the bytes reached do not fit in memory, or when data is null for a
  // non-empty image. Nothing checks that two pixels do not share a byte:
  // blending into such a view leaves the byte with one of the values
  // written to it.
  BasicImageView(Byte *data, std::size_t width, std::size_t height,
                 std::size_t channels, ImageSteps steps)
      : data_(data), width_(width), height_(height), channels_(channels),
        steps_(steps) {
    detail::row_bytes(width, channels, true);
    if (width == 0 || height == 0) {
      return;
    }
    // The step of an axis of one item is never taken; the packed value
    // lets such rows count as packed.
    if (channels == 1) {
      steps_.channel = 1;
    }
    if (width == 1) {
      steps_.pixel = static_cast<std::ptrdiff_t>(channels) * steps_.channel;
    }
    constexpr auto largest =
        static_cast<std::size_t>(std::numeric_limits<std::ptrdiff_t>::max());
    std::size_t reach = 0;
    for (const auto &[step, count] :
         {std::pair{steps_.row, height}, std::pair{steps_.pixel, width},
          std::pair{steps_.channel, channels}}) {
      const auto distance = static_cast<std::size_t>(std::abs(step));
      if (count > 1 && distance != 0 &&
          (count - 1 > (largest - reach) / distance)) {
        throw std::invalid_argument("byteblend: the bytes of a " +
                                    detail::describe(width, height, channels) +
                                    " image lie too far apart");
      }
      reach += (count - 1) * distance;
    }
    if (data == nullptr) {
      throw std::invalid_argument("byteblend: no pixels for a " +
                                  detail::describe(width, height, channels) +
                                  " image");
    }
  }

  // The rectangle of `parent` with its top-left pixel at (x, y); throws
  // std::out_of_range when it does not lie inside `parent`.
  template <class ParentByte>
  requires std::is_convertible_v<ParentByte *, Byte *>
  BasicImageView(const BasicImageView<ParentByte> &parent, std::size_t x,
                 std::size_t y, std::size_t width, std::size_t height)
      : data_(parent.data()), width_(width), height_(height),
        channels_(parent.channels()), steps_(parent.steps()) {
    if (x > parent.width() || width > parent.width() - x ||
        y > parent.height() || height > parent.height() - y) {
      throw std::out_of_range(
          "byteblend: the " + detail::describe(width, height, channels_) +
          " rectangle at (" + std::to_string(x) + ", " + std::to_string(y) +
          ") does not lie inside a " +
          detail::describe(parent.width(), parent.height(), channels_) +
          " image");
    }
    // An empty rectangle keeps the parent's pointer: its own first pixel
    // may lie past the parent's last byte.
    if (width != 0 && height != 0) {
      data_ += static_cast<std::ptrdiff_t>(y) * steps_.row +
               static_cast<std::ptrdiff_t>(x) * steps_.pixel;
    }
  }

  // A writable view seen as read-only.
  template <class OtherByte>
  requires(!std::is_same_v<OtherByte, Byte> &&
           std::is_convertible_v<OtherByte *, Byte *>)
      // cppcheck-suppress noExplicitConstructor
      // NOLINTNEXTLINE(google-explicit-constructor): as T* converts to const T*
      BasicImageView(const BasicImageView<OtherByte> &other)
      : data_(other.data()), width_(other.width()), height_(other.height()),
        channels_(other.channels()), steps_(other.steps()) {}

  [[nodiscard]] Byte *data() const { return data_; }
  [[nodiscard]] std::size_t width() const { return width_; }
  [[nodiscard]] std::size_t height() const { return height_; }
  [[nodiscard]] std::size_t channels() const { return channels_; }
  // The bytes from one row to the next (of a view whose rows go down in
  // memory; steps().row in general).
  [[nodiscard]] std::size_t stride() const {
    return static_cast<std::size_t>(steps_.row);
  }
  [[nodiscard]] ImageSteps steps() const { return steps_; }
  // The bytes of the pixels of one row, without the padding after them.
  [[nodiscard]] std::size_t row_bytes() const { return width_ * channels_; }
  // True when the bytes of each row are one run, in order.
  [[nodiscard]] bool packed_rows() const {
    return steps_.channel == 1 &&
           steps_.pixel == static_cast<std::ptrdiff_t>(channels_);
  }
  // True when each row follows the one above it with no padding between.
  [[nodiscard]] bool contiguous() const {
    return packed_rows() &&
           (steps_.row == static_cast<std::ptrdiff_t>(row_bytes()) ||
            height_ <= 1);
  }
  // Where row y starts.
  [[nodiscard]] Byte *row_start(std::size_t y) const {
    return data_ + static_cast<std::ptrdiff_t>(y) * steps_.row;
  }

  // Row y's pixels; throws std::out_of_range past the last row, and
  // std::logic_error when the bytes of a row are not one run (see
  // packed_rows()). The rows of an image 0 wide are empty spans at data().
  [[nodiscard]] std::span<Byte> row(std::size_t y) const {
    if (y >= height_) {
      throw std::out_of_range("byteblend: row " + std::to_string(y) +
                              " of an image of " + std::to_string(height_) +
                              " rows");
    }
    if (row_bytes() == 0) {
      return {data_, 0};
    }
    if (!packed_rows()) {
      throw std::logic_error("byteblend: the bytes of a row of this view "
                             "are not one run");
    }
    return {row_start(y), row_bytes()};
  }

private:
  Byte *data_;
  std::size_t width_;
  std::size_t height_;
  std::size_t channels_;
  ImageSteps steps_;
};

// A read-only view.
using ImageView = BasicImageView<const std::uint8_t>;
// A writable view.
using MutableImageView = BasicImageView<std::uint8_t>;

namespace detail {

// RGBA is blended a piece of this many pixels at a time into a scratch
// array small enough to stay in the first-level cache with the pixels.
inline constexpr std::size_t rgba_piece = 1024;

struct RgbaScratch {
  std::array<std::uint8_t, 4 * rgba_piece> blended{};
};

// A pixel's four bytes as one word, so that channels are picked by masks.
inline std::uint32_t load_pixel(const std::uint8_t *at) {
  std::uint32_t pixel = 0;
  std::memcpy(&pixel, at, sizeof pixel);
  return pixel;
}
inline void store_pixel(std::uint8_t *at, std::uint32_t pixel) {
  std::memcpy(at, &pixel, sizeof pixel);
}
// Byte k of a pixel is bits 8k to 8k + 7 of its word.
static_assert(std::endian::native == std::endian::little);
constexpr std::uint32_t channel_mask(std::size_t channel) {
  return std::uint32_t{0xFF} << (8 * channel);
}

// Blends `pixels` packed RGBA pixels: red, green and blue by the mode,
// alpha from bottom. result may be top or bottom.
//
// The kernels write into scratch, never into result, so bottom's alpha is
// still there to copy whatever result is. A channel kernel steps by 3 bytes
// and RGBA by 4, so no single call lands on one channel of every pixel; the
// three channel kernels together blend every byte (each visits the bytes of
// its own index modulo 3), and the mode's channel is taken from that.
inline void blend_rgba(Mode mode, const std::uint8_t *top,
                       const std::uint8_t *bottom, std::uint8_t *result,
                       std::size_t pixels, RgbaScratch &scratch) {
  const std::optional<std::size_t> channel = channel_of(mode);
  const std::uint32_t alpha = channel_mask(3);
  // Taken from scratch; the bytes in neither mask keep result's value.
  const std::uint32_t blended = channel ? channel_mask(*channel) : ~alpha;
  const std::uint32_t kept = ~(blended | alpha);
  for (std::size_t first = 0; first < pixels; first += rgba_piece) {
    const std::size_t count = std::min(rgba_piece, pixels - first);
    const std::uint8_t *const t = top + 4 * first;
    const std::uint8_t *const b = bottom + 4 * first;
    std::uint8_t *const r = result + 4 * first;
    const auto length = static_cast<std::int32_t>(4 * count);
    if (channel) {
      for (const Mode each :
           {Mode::red_channel, Mode::green_channel, Mode::blue_channel}) {
        kernel(each)(length, t, b, scratch.blended.data());
      }
    } else {
      kernel(mode)(length, t, b, scratch.blended.data());
    }
    for (std::size_t i = 0; i < count; ++i) {
      store_pixel(r + 4 * i,
                  (load_pixel(r + 4 * i) & kept) |
                      (load_pixel(&scratch.blended[4 * i]) & blended) |
                      (load_pixel(b + 4 * i) & alpha));
    }
  }
}

// The blend_rgba of rows of packed RGBA pixels, with its own scratch.
struct RgbaRows {
  Mode mode;
  RgbaScratch scratch;
  void operator()(const std::uint8_t *top, const std::uint8_t *bottom,
                  std::uint8_t *result, std::size_t bytes) {
    blend_rgba(mode, top, bottom, result, bytes / 4, scratch);
  }
};

// The lowest and one past the highest address of a view's pixels.
inline std::pair<std::uintptr_t, std::uintptr_t>
byte_range(const ImageView &view) {
  const auto start = std::bit_cast<std::uintptr_t>(view.data());
  std::uintptr_t low = start;
  std::uintptr_t high = start;
  const ImageSteps steps = view.steps();
  for (const auto &[step, count] :
       {std::pair{steps.row, view.height()},
        std::pair{steps.pixel, view.width()},
        std::pair{steps.channel, view.channels()}}) {
    const auto reach = static_cast<std::uintptr_t>(step) * (count - 1);
    (step < 0 ? low : high) += reach;
  }
  return {low, high + 1};
}

// Whether the pixels of two views of the same width and height share a
// byte without being the very same pixels (the same first byte and, past
// one row, the same steps; views of as many pixels with other channels in
// those steps are not both packed, and the walk of blend_rows() copies the
// one that is not). The bytes between rows do not count: a view may lie in the
// padding of another, or take the odd rows of an image whose even rows are
// the other. As for arrays, the kernels read a whole vector before storing
// any of it, and rows are blended one after another, so any other sharing
// would read bytes already written. Views in the general form whose rows
// are not packed runs going down in memory are taken to share a byte when
// the ranges of their bytes meet.
inline bool overlaps_partly(ImageView a, ImageView b) {
  const std::size_t rows = a.height();
  if (a.row_bytes() == 0 || b.row_bytes() == 0 || rows == 0) {
    return false;
  }
  const auto start = std::bit_cast<std::uintptr_t>(a.data());
  const auto other_start = std::bit_cast<std::uintptr_t>(b.data());
  const ImageSteps steps = a.steps();
  const ImageSteps other = b.steps();
  if (start == other_start && (rows == 1 || steps.row == other.row) &&
      steps.pixel == other.pixel && steps.channel == other.channel) {
    return false;
  }
  const auto [low, end] = byte_range(a);
  const auto [other_low, other_end] = byte_range(b);
  if (end <= other_low || other_end <= low) {
    return false;
  }
  const auto downward = [](ImageView view) {
    return view.packed_rows() &&
           view.steps().row >= static_cast<std::ptrdiff_t>(view.row_bytes());
  };
  if (rows > 1 && (!downward(a) || !downward(b))) {
    return true;
  }
  // Each view's rows follow one another in memory without overlapping
  // (stride >= row), so one walk through both in address order meets any
  // shared byte, in at most 2 * rows steps.
  for (std::size_t i = 0, j = 0; i < rows && j < rows;) {
    const std::uintptr_t a_row = start + i * a.stride();
    const std::uintptr_t b_row = other_start + j * b.stride();
    if (a_row + a.row_bytes() <= b_row) {
      ++i;
    } else if (b_row + b.row_bytes() <= a_row) {
      ++j;
    } else {
      return true;
    }
  }
  return false;
}

// Copies the bytes of row y of a view, in order, into `into`, or back from
// `from`: pixel by pixel, as many bytes as a pixel has at once.
template <std::size_t Channels, class Byte>
void copy_pixels(Byte *start, ImageSteps steps, std::size_t width,
                 std::uint8_t *packed, bool into_view) {
  for (std::size_t x = 0; x < width; ++x) {
    Byte *const pixel = start + static_cast<std::ptrdiff_t>(x) * steps.pixel;
    std::uint8_t *const bytes = packed + x * Channels;
    if (steps.channel == 1) {
      if constexpr (!std::is_const_v<Byte>) {
        if (into_view) {
          std::memcpy(pixel, bytes, Channels);
          continue;
        }
      }
      std::memcpy(bytes, pixel, Channels);
      continue;
    }
    for (std::size_t c = 0; c < Channels; ++c) {
      Byte &byte = pixel[static_cast<std::ptrdiff_t>(c) * steps.channel];
      if constexpr (!std::is_const_v<Byte>) {
        if (into_view) {
          byte = bytes[c];
          continue;
        }
      }
      bytes[c] = byte;
    }
  }
}

template <class Byte>
void copy_row(BasicImageView<Byte> view, std::size_t y, std::uint8_t *packed,
              bool into_view) {
  Byte *const start = view.row_start(y);
  const ImageSteps steps = view.steps();
  switch (view.channels()) {
  case 1:
    copy_pixels<1>(start, steps, view.width(), packed, into_view);
    return;
  case 3:
    copy_pixels<3>(start, steps, view.width(), packed, into_view);
    return;
  case 4:
    copy_pixels<4>(start, steps, view.width(), packed, into_view);
    return;
  default:
    // Any other count, a byte at a time: each channel a grey pixel.
    for (std::size_t x = 0; x < view.width(); ++x) {
      copy_pixels<1>(start + static_cast<std::ptrdiff_t>(x) * steps.pixel,
                     ImageSteps{0, steps.channel, 1}, view.channels(),
                     packed + x * view.channels(), into_view);
    }
  }
}

// The same pixels, the last row first, or the last pixel of each row first.
template <class Byte>
BasicImageView<Byte> rows_reversed(BasicImageView<Byte> view) {
  const ImageSteps steps = view.steps();
  return {view.row_start(view.height() - 1), view.width(), view.height(),
          view.channels(), ImageSteps{-steps.row, steps.pixel, steps.channel}};
}
template <class Byte>
BasicImageView<Byte> pixels_reversed(BasicImageView<Byte> view) {
  const ImageSteps steps = view.steps();
  return {view.data() +
              static_cast<std::ptrdiff_t>(view.width() - 1) * steps.pixel,
          view.width(), view.height(), view.channels(),
          ImageSteps{steps.row, -steps.pixel, steps.channel}};
}

// Each pixel is blended on its own, so the three views may be walked with
// their rows, or the pixels of their rows, in the other order, all three
// alike: the order that leaves more of them packed (image[:, ::-1]) or one
// run of rows (image[::-1]) needs fewer copies. The channels keep their
// order, which tells them apart.
inline void walk_forward(ImageView &top, ImageView &bottom,
                         MutableImageView &result) {
  const auto count = [&](auto test) {
    return int{test(top)} + int{test(bottom)} + int{test(ImageView{result})};
  };
  const auto packed = [](ImageView v) { return v.packed_rows(); };
  const auto reversed_packed = [](ImageView v) {
    return pixels_reversed(v).packed_rows();
  };
  if (count(reversed_packed) > count(packed)) {
    top = pixels_reversed(top);
    bottom = pixels_reversed(bottom);
    result = pixels_reversed(result);
  }
  const auto contiguous = [](ImageView v) { return v.contiguous(); };
  const auto reversed_contiguous = [](ImageView v) {
    return rows_reversed(v).contiguous();
  };
  if (count(reversed_contiguous) > count(contiguous)) {
    top = rows_reversed(top);
    bottom = rows_reversed(bottom);
    result = rows_reversed(result);
  }
}

} // namespace detail

namespace detail {

// The walk under blend_rows() and byteblend_layers.hpp's composite(): over
// three views of the same width and height, whose channels may differ,
// calls run(top, bottom, result, pixels) on packed runs of `pixels` whole
// pixels of each (each view's own channels, in order), on up to `threads`
// threads (0: every usable core), each thread with its own copy of run.
// blend_rows() says the rest.
template <class PixelRun>
void walk_pixel_runs(unsigned threads, ImageView top, ImageView bottom,
                     MutableImageView result, PixelRun run) {
  const std::size_t width = top.width();
  if (width == 0 || top.height() == 0) {
    return;
  }
  walk_forward(top, bottom, result);
  const bool contiguous =
      top.contiguous() && bottom.contiguous() && result.contiguous();
  const auto blend_range = [&](std::size_t first, std::size_t last) {
    PixelRun run_pixels = run;
    if (contiguous) {
      run_pixels(top.row_start(first), bottom.row_start(first),
                 result.row_start(first), (last - first) * width);
      return;
    }
    // Scratch for the rows of each view that are not packed.
    const auto copied = [](ImageView view) {
      return view.packed_rows() ? 0 : view.row_bytes();
    };
    std::vector<std::uint8_t> scratch(copied(top) + copied(bottom) +
                                      copied(result));
    std::uint8_t *const top_copy = scratch.data();
    std::uint8_t *const bottom_copy = top_copy + copied(top);
    std::uint8_t *const result_copy = bottom_copy + copied(bottom);
    for (std::size_t y = first; y < last; ++y) {
      const std::uint8_t *t = top.row_start(y);
      const std::uint8_t *b = bottom.row_start(y);
      std::uint8_t *r = result.row_start(y);
      if (!top.packed_rows()) {
        copy_row(top, y, top_copy, false);
        t = top_copy;
      }
      if (!bottom.packed_rows()) {
        copy_row(bottom, y, bottom_copy, false);
        b = bottom_copy;
      }
      if (!result.packed_rows()) {
        copy_row(result, y, result_copy, false);
        r = result_copy;
      }
      run_pixels(t, b, r, width);
      if (!result.packed_rows()) {
        copy_row(result, y, result_copy, true);
      }
    }
  };
  split_across_threads(top.height(), 1, threads, blend_range);
}

} // namespace detail

// The walk over three views of one shape that blend() makes, for any work
// done pixel by pixel: calls row_blend(top, bottom, result, bytes) over the
// pixels' bytes of the three, packed (pixels one after another, each one's
// channels in order), a run of whole pixels at a time. row_blend must blend
// each pixel on its own, whatever its place in the run: the runs are rows,
// or runs of rows where each view is one (contiguous()), and the rows, or
// the pixels of each row, may be walked last first where that leaves more
// views packed. Rows packed in all three views are handed over where they
// lie; other rows are first copied into packed scratch rows, result's too
// (so that row_blend sees what it held), and result's is copied back after
// the call. Rows, or the runs of them, are split across up to
// options.threads threads by the flat blend()'s rule for `mode`
// (detail::threads_for over all the pixels' bytes); each thread calls its
// own copy of row_blend, which may so keep scratch space of its own, and
// must not throw for threads to be worth it (an exception is rethrown here
// once every thread is done). Nothing is checked: the views must have the
// same shape, and result's bytes must be top's or bottom's very bytes or
// share none with them.
template <class RowBlend>
void blend_rows(Mode mode, ImageView top, ImageView bottom,
                MutableImageView result, const Options &options,
                RowBlend row_blend) {
  const std::size_t channels = top.channels();
  detail::walk_pixel_runs(
      detail::threads_for(mode, top.height() * top.row_bytes(),
                          options.threads),
      top, bottom, result,
      [row_blend, channels](const std::uint8_t *t, const std::uint8_t *b,
                            std::uint8_t *r, std::size_t pixels) mutable {
        row_blend(t, b, r, pixels * channels);
      });
}

// Blends top onto bottom into result, pixel by pixel; the three views have
// the same width, height and channels. Grey and RGB images are blended byte
// by byte as the flat blend() does; on RGBA the mode is applied to red,
// green and blue, and result's alpha is bottom's. A channel mode writes only
// its channel of result (and on RGBA the alpha) and leaves the others as
// they were; it needs 3 or 4 channels. result may be top or bottom itself
// (the same pixels and steps) and must not otherwise share a pixel's byte
// with them (the padding between rows is free). Rows are split across up to
// options.threads threads by the flat blend()'s rule (detail::threads_for);
// the bytes are the same for every count. Grey and RGB rows reach the
// kernels in calls of at most options.chunk bytes, RGBA in pieces of
// rgba_piece pixels. Empty images blend nothing. Throws
// std::invalid_argument, before writing anything, when the sizes or
// channels differ, for a channel mode on grey images, when result shares
// bytes with top or bottom otherwise than as that very view, for channels
// other than 1, 3 or 4, for a chunk that the flat blend() refuses, or for
// an opacity whose byte is not 255 or Operator::over (the top's alpha is
// not used here: composite() of byteblend_layers.hpp takes those).
inline void blend(Mode mode, ImageView top, ImageView bottom,
                  MutableImageView result, const Options &options = {}) {
  const auto same_shape = [](ImageView a, ImageView b) {
    return a.width() == b.width() && a.height() == b.height() &&
           a.channels() == b.channels();
  };
  for (const auto &[label, other] :
       {std::pair{"bottom", bottom}, std::pair{"result", ImageView{result}}}) {
    if (!same_shape(top, other)) {
      throw std::invalid_argument(
          std::string("byteblend::blend: sizes differ: top is ") +
          detail::describe(top.width(), top.height(), top.channels()) + ", " +
          label + " is " +
          detail::describe(other.width(), other.height(), other.channels()));
    }
  }
  detail::row_bytes(top.width(), top.channels());
  if (is_channel_mode(mode) && top.channels() == 1) {
    throw std::invalid_argument(std::string("byteblend::blend: ") +
                                std::string(name(mode)) +
                                " blends a channel of RGB or RGBA pixels, "
                                "and these have 1 channel");
  }
  if (detail::overlaps_partly(result, top) ||
      detail::overlaps_partly(result, bottom)) {
    throw std::invalid_argument("byteblend::blend: result shares bytes with "
                                "top or bottom without being that view");
  }
  if (opacity_byte(options.opacity) != 255 ||
      options.blend_operator != Operator::atop) {
    throw std::invalid_argument(
        "byteblend::blend: an opacity below 1 or Operator::over needs the "
        "layers library: include byteblend_layers.hpp, link byteblend::layers "
        "and call byteblend::composite");
  }
  // The rows themselves go through the flat blend() on their own threads.
  const Options one_thread{.threads = 1, .chunk = options.chunk};
  // The flat blend() checks the mode and the chunk; empty images too.
  blend(mode, std::span<const std::uint8_t>{}, std::span<const std::uint8_t>{},
        std::span<std::uint8_t>{}, one_thread);
  if (top.channels() == 4) {
    blend_rows(mode, top, bottom, result, options, detail::RgbaRows{mode, {}});
    return;
  }
  blend_rows(mode, top, bottom, result, options,
             [mode, one_thread](const std::uint8_t *t, const std::uint8_t *b,
                                std::uint8_t *r, std::size_t bytes) {
               blend(mode, std::span{t, bytes}, std::span{b, bytes},
                     std::span{r, bytes}, one_thread);
             });
}

} // namespace byteblend

#endif // C++20
#endif
