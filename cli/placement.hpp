// SPDX-License-Identifier: MIT
// Blending one image onto another: over the whole of it, or placed at an
// offset and clipped to it (`--at X,Y`); opaque and at full opacity by the
// plain kernels, otherwise through TOP's alpha and the opacity by the
// layers library.
#ifndef BYTEBLEND_CLI_PLACEMENT_HPP
#define BYTEBLEND_CLI_PLACEMENT_HPP

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "byteblend.hpp"
#include "byteblend_image.hpp"
#include "byteblend_layers.hpp"
#include "image.hpp"

namespace byteblend::tool {

// Where TOP's top-left corner lies on BOTTOM, in pixels; either may be
// negative.
struct Offset {
  std::int64_t x = 0, y = 0;
};

// "X,Y" with X and Y whole numbers from -2^31 to 2^31 - 1 (a sign allowed,
// nothing else); none for anything else.
std::optional<Offset> parse_offset(std::string_view text);

// The rectangle of BOTTOM that TOP covers: columns [x0, x1), rows [y0, y1);
// empty when TOP lies wholly outside.
struct Overlap {
  std::uint32_t x0 = 0, x1 = 0, y0 = 0, y1 = 0;
  [[nodiscard]] bool empty() const { return x0 >= x1 || y0 >= y1; }
};

Overlap overlap_of(std::uint32_t top_width, std::uint32_t top_height,
                   std::uint32_t bottom_width, std::uint32_t bottom_height,
                   Offset at);

// TOP as it is laid onto every BOTTOM of a run, made once: its RGB where it
// has no alpha, else RGBA packed pixel by pixel, as the layers library reads
// it (the image's own rows are released).
class TopLayer {
public:
  explicit TopLayer(Image image);

  [[nodiscard]] std::uint32_t width() const { return width_; }
  [[nodiscard]] std::uint32_t height() const { return height_; }
  // Whether every pixel is opaque for want of alpha (an image with alpha is
  // taken as it is, even where all of it is 255).
  [[nodiscard]] bool opaque() const { return channels_ == 3; }
  // RGB (opaque) or RGBA, packed, rows top to bottom.
  [[nodiscard]] std::span<const std::uint8_t> pixels() const { return pixels_; }
  // The same as a view.
  [[nodiscard]] ImageView view() const {
    return {pixels_.data(), width_, height_, channels_};
  }

private:
  std::uint32_t width_, height_;
  std::size_t channels_;
  std::vector<std::uint8_t> pixels_;
};

// How TOP is laid on beyond its mode: `--opacity` and `--over`.
struct Layering {
  double opacity = 1; // 0 to 1
  Operator blend_operator = Operator::atop;
};

// Whether laying `top` on by `mode` and `layering` onto a BOTTOM that has
// alpha or not is the plain kernels' blend: a mode of theirs, an opaque TOP
// at full opacity, and atop, or over onto an opaque BOTTOM (the same).
bool is_plain_blend(LayerMode mode, const TopLayer &top,
                    const Layering &layering, bool bottom_has_alpha);

// Lays `top`, placed at `at`, onto `bottom` in place, on `threads` threads
// (0: one per core); only the overlap changes. A plain blend
// (is_plain_blend) goes through the image blend() of the kernels, RGB only,
// as image views of the overlap whatever its shape (the flat blend() of the
// whole images without an offset); any other through composite(), whose
// result keeps BOTTOM's channels: atop leaves BOTTOM's alpha as it is, over
// gives the overlap the composite's alpha. Without an offset the images
// must have the same size (std::invalid_argument otherwise).
void blend_onto(LayerMode mode, const TopLayer &top, Image &bottom,
                std::optional<Offset> at, const Layering &layering,
                unsigned threads);

} // namespace byteblend::tool

#endif
