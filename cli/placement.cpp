#include "placement.hpp"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "byteblend_image.hpp"
#include "whole_number.hpp"

namespace byteblend::tool {

namespace {

std::optional<std::int64_t> parse_coordinate(std::string_view text) {
  return parse_whole_number<std::int32_t>(text);
}

// [first, first + length) clipped to [0, size).
std::pair<std::uint32_t, std::uint32_t>
clip(std::int64_t first, std::uint32_t length, std::uint32_t size) {
  const std::int64_t low = std::clamp<std::int64_t>(first, 0, size);
  const std::int64_t high = std::clamp<std::int64_t>(first + length, 0, size);
  return {static_cast<std::uint32_t>(low),
          static_cast<std::uint32_t>(std::max(low, high))};
}

} // namespace

std::optional<Offset> parse_offset(std::string_view text) {
  const std::size_t comma = text.find(',');
  if (comma == std::string_view::npos) {
    return std::nullopt;
  }
  const auto x = parse_coordinate(text.substr(0, comma));
  const auto y = parse_coordinate(text.substr(comma + 1));
  if (!x || !y) {
    return std::nullopt;
  }
  return Offset{*x, *y};
}

Overlap overlap_of(std::uint32_t top_width, std::uint32_t top_height,
                   std::uint32_t bottom_width, std::uint32_t bottom_height,
                   Offset at) {
  const auto [x0, x1] = clip(at.x, top_width, bottom_width);
  const auto [y0, y1] = clip(at.y, top_height, bottom_height);
  return {x0, x1, y0, y1};
}

void blend_onto(Mode mode, const Image &top, Image &bottom,
                std::optional<Offset> at, unsigned threads) {
  const Options options{.threads = threads};
  if (!at) {
    if (top.width != bottom.width || top.height != bottom.height) {
      throw std::invalid_argument("blend_onto: the images differ in size");
    }
    blend(mode, top.rgb, bottom.rgb, bottom.rgb, options);
    return;
  }
  const Overlap overlap =
      overlap_of(top.width, top.height, bottom.width, bottom.height, *at);
  if (overlap.empty()) {
    return;
  }
  // Where the overlap starts in TOP: non-negative, since the overlap lies
  // inside TOP's placed rectangle.
  const auto top_x = static_cast<std::size_t>(overlap.x0 - at->x);
  const auto top_y = static_cast<std::size_t>(overlap.y0 - at->y);
  const std::size_t columns = overlap.x1 - overlap.x0;
  const std::size_t rows = overlap.y1 - overlap.y0;
  const ImageView top_part(ImageView(top.rgb.data(), top.width, top.height, 3),
                           top_x, top_y, columns, rows);
  const MutableImageView bottom_part(
      MutableImageView(bottom.rgb.data(), bottom.width, bottom.height, 3),
      overlap.x0, overlap.y0, columns, rows);
  blend(mode, top_part, bottom_part, bottom_part, options);
}

} // namespace byteblend::tool
