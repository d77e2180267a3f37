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
#include <cstring>
#include <limits>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

#include "byteblend.hpp"

namespace byteblend {

namespace detail {

// The bytes of one row of pixels; throws when the channel count is not 1
// (grey), 3 (RGB) or 4 (RGBA), or when the row does not fit in memory.
inline std::size_t row_bytes(std::size_t width, std::size_t channels) {
  if (channels != 1 && channels != 3 && channels != 4) {
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

// An 8-bit image that the view does not own: `height` rows of `width`
// pixels of `channels` bytes each (1 grey, 3 RGB, 4 RGBA, red first), each
// row `stride` bytes after the one above it. Byte is std::uint8_t for a
// writable view and const std::uint8_t for a read-only one; a writable view
// converts to a read-only one.
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
      : data_(data), width_(width), height_(height), channels_(channels),
        stride_(stride) {
    const std::size_t row = detail::row_bytes(width, channels);
    if (row == 0 || height == 0) {
      return;
    }
    if (stride < row) {
      throw std::invalid_argument(
          "byteblend: a stride of " + std::to_string(stride) +
          " bytes is shorter than a row of " + std::to_string(row));
    }
    constexpr auto largest =
        static_cast<std::size_t>(std::numeric_limits<std::ptrdiff_t>::max());
    if (height > 1 && (height - 1 > (largest - row) / stride)) {
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

  // The rectangle of `parent` with its top-left pixel at (x, y); throws
  // std::out_of_range when it does not lie inside `parent`.
  template <class ParentByte>
  requires std::is_convertible_v<ParentByte *, Byte *>
  BasicImageView(const BasicImageView<ParentByte> &parent, std::size_t x,
                 std::size_t y, std::size_t width, std::size_t height)
      : data_(parent.data()), width_(width), height_(height),
        channels_(parent.channels()), stride_(parent.stride()) {
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
      data_ += y * stride_ + x * channels_;
    }
  }

  // A writable view seen as read-only.
  template <class OtherByte>
  requires(!std::is_same_v<OtherByte, Byte> &&
           std::is_convertible_v<OtherByte *, Byte *>)
      // NOLINTNEXTLINE(google-explicit-constructor): as T* converts to const T*
      BasicImageView(const BasicImageView<OtherByte> &other)
      : data_(other.data()), width_(other.width()), height_(other.height()),
        channels_(other.channels()), stride_(other.stride()) {}

  [[nodiscard]] Byte *data() const { return data_; }
  [[nodiscard]] std::size_t width() const { return width_; }
  [[nodiscard]] std::size_t height() const { return height_; }
  [[nodiscard]] std::size_t channels() const { return channels_; }
  [[nodiscard]] std::size_t stride() const { return stride_; }
  // The bytes of the pixels of one row, without the padding after them.
  [[nodiscard]] std::size_t row_bytes() const { return width_ * channels_; }
  // True when each row follows the one above it with no padding between.
  [[nodiscard]] bool contiguous() const {
    return stride_ == row_bytes() || height_ <= 1;
  }

  // Row y's pixels; throws std::out_of_range past the last row. The rows
  // of an image 0 wide are empty spans at data().
  [[nodiscard]] std::span<Byte> row(std::size_t y) const {
    if (y >= height_) {
      throw std::out_of_range("byteblend: row " + std::to_string(y) +
                              " of an image of " + std::to_string(height_) +
                              " rows");
    }
    if (row_bytes() == 0) {
      return {data_, 0};
    }
    return {data_ + y * stride_, row_bytes()};
  }

private:
  Byte *data_;
  std::size_t width_;
  std::size_t height_;
  std::size_t channels_;
  std::size_t stride_;
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

// Whether the pixels of two views of the same shape share a byte without
// being the very same pixels (the same first byte and, past one row, the
// same stride). The bytes between rows do not count: a view may lie in the
// padding of another, or take the odd rows of an image whose even rows are
// the other. As for arrays, the kernels read a whole vector before storing
// any of it, and rows are blended one after another, so any other sharing
// would read bytes already written.
inline bool overlaps_partly(ImageView a, ImageView b) {
  const std::size_t row = a.row_bytes();
  const std::size_t rows = a.height();
  if (row == 0 || rows == 0) {
    return false;
  }
  const auto start = std::bit_cast<std::uintptr_t>(a.data());
  const auto other_start = std::bit_cast<std::uintptr_t>(b.data());
  if (start == other_start && (rows == 1 || a.stride() == b.stride())) {
    return false;
  }
  const std::uintptr_t end = start + (rows - 1) * a.stride() + row;
  const std::uintptr_t other_end = other_start + (rows - 1) * b.stride() + row;
  if (end <= other_start || other_end <= start) {
    return false;
  }
  // Each view's rows follow one another in memory without overlapping
  // (stride >= row), so one walk through both in address order meets any
  // shared byte, in at most 2 * rows steps.
  for (std::size_t i = 0, j = 0; i < rows && j < rows;) {
    const std::uintptr_t a_row = start + i * a.stride();
    const std::uintptr_t b_row = other_start + j * b.stride();
    if (a_row + row <= b_row) {
      ++i;
    } else if (b_row + row <= a_row) {
      ++j;
    } else {
      return true;
    }
  }
  return false;
}

} // namespace detail

// Blends top onto bottom into result, pixel by pixel; the three views have
// the same width, height and channels. Grey and RGB images are blended byte
// by byte as the flat blend() does; on RGBA the mode is applied to red,
// green and blue, and result's alpha is bottom's. A channel mode writes only
// its channel of result (and on RGBA the alpha) and leaves the others as
// they were; it needs 3 or 4 channels. result may be top or bottom itself
// (the same pixels and stride) and must not otherwise share a pixel's byte
// with them (the padding between rows is free). Rows are split across up to
// options.threads threads by the flat blend()'s rule (detail::threads_for);
// the bytes are the same for every count. Grey and RGB rows reach the
// kernels in calls of at most options.chunk bytes, RGBA in pieces of
// rgba_piece pixels. Empty images blend nothing. Throws
// std::invalid_argument, before writing anything, when the sizes or
// channels differ, for a channel mode on grey images, when result shares
// bytes with top or bottom otherwise than as that very view, or for a chunk
// that the flat blend() refuses.
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
  // The rows themselves go through the flat blend() on their own threads.
  const Options one_thread{.threads = 1, .chunk = options.chunk};
  // The flat blend() checks the mode and the chunk; empty images too.
  blend(mode, std::span<const std::uint8_t>{}, std::span<const std::uint8_t>{},
        std::span<std::uint8_t>{}, one_thread);
  const std::size_t row = top.row_bytes();
  if (row == 0 || top.height() == 0) {
    return;
  }
  // Rows with no gaps in all three views are blended as one array.
  const bool contiguous =
      top.contiguous() && bottom.contiguous() && result.contiguous();
  const auto blend_rows = [&](std::size_t first, std::size_t last) {
    const std::size_t runs = contiguous ? 1 : last - first;
    const std::size_t run = contiguous ? (last - first) * row : row;
    const auto top_row = [&](std::size_t i) {
      return top.data() + (first + i) * top.stride();
    };
    const auto bottom_row = [&](std::size_t i) {
      return bottom.data() + (first + i) * bottom.stride();
    };
    const auto result_row = [&](std::size_t i) {
      return result.data() + (first + i) * result.stride();
    };
    if (top.channels() != 4) {
      for (std::size_t i = 0; i < runs; ++i) {
        blend(mode, std::span{top_row(i), run}, std::span{bottom_row(i), run},
              std::span{result_row(i), run}, one_thread);
      }
      return;
    }
    detail::RgbaScratch scratch;
    for (std::size_t i = 0; i < runs; ++i) {
      detail::blend_rgba(mode, top_row(i), bottom_row(i), result_row(i),
                         run / 4, scratch);
    }
  };
  detail::split_across_threads(
      top.height(), 1,
      detail::threads_for(mode, top.height() * row, options.threads),
      blend_rows);
}

} // namespace byteblend

#endif // C++20
#endif
