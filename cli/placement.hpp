// SPDX-License-Identifier: MIT
// Blending one image onto another: over the whole of it, or placed at an
// offset and clipped to it (`--at X,Y`).
#ifndef BYTEBLEND_CLI_PLACEMENT_HPP
#define BYTEBLEND_CLI_PLACEMENT_HPP

#include <cstdint>
#include <optional>
#include <string_view>

#include "byteblend.hpp"
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

// Blends the RGB of `top`, placed at `at`, onto `bottom` in place: only the
// overlap changes, blended as image views of the overlap by the image
// blend() on `threads` threads (0: one per core), whatever the overlap's
// shape. Alpha is left as it is. Without an offset the images must have the
// same size (std::invalid_argument otherwise).
void blend_onto(Mode mode, const Image &top, Image &bottom,
                std::optional<Offset> at, unsigned threads);

} // namespace byteblend::tool

#endif
