#include "placement.hpp"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <utility>

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

// About the bytes of BOTTOM's overlap packed as RGBA at a time for over onto
// a BOTTOM with alpha: whole rows, enough to split across threads, small
// beside the image itself.
constexpr std::size_t kBandBytes = std::size_t{16} << 20;

// Over onto a BOTTOM whose alpha the composite changes: the overlap's rows,
// band by band, packed with their alpha into RGBA, composited in place and
// unpacked again. `top_part` is TOP's part over the overlap.
void composite_onto_alpha(LayerMode mode, const ImageView &top_part,
                          Image &bottom, const Overlap &overlap,
                          const Options &options) {
  const std::size_t columns = overlap.x1 - overlap.x0;
  const std::size_t rows = overlap.y1 - overlap.y0;
  const std::size_t band_rows =
      std::clamp<std::size_t>(kBandBytes / (columns * 4), 1, rows);
  std::vector<std::uint8_t> band(band_rows * columns * 4);
  for (std::size_t first = 0; first < rows; first += band_rows) {
    const std::size_t count = std::min(band_rows, rows - first);
    const auto pixel_of = [&](std::size_t y, std::size_t x) {
      return (overlap.y0 + first + y) * std::size_t{bottom.width} + overlap.x0 +
             x;
    };
    for (std::size_t y = 0; y < count; ++y) {
      for (std::size_t x = 0; x < columns; ++x) {
        const std::size_t pixel = pixel_of(y, x);
        std::uint8_t *packed = &band[(y * columns + x) * 4];
        std::copy_n(&bottom.rgb[pixel * 3], 3, packed);
        packed[3] = bottom.alpha[pixel];
      }
    }
    const MutableImageView packed(band.data(), columns, count, 4);
    composite(mode, ImageView(top_part, 0, first, columns, count), packed,
              packed, options);
    for (std::size_t y = 0; y < count; ++y) {
      for (std::size_t x = 0; x < columns; ++x) {
        const std::size_t pixel = pixel_of(y, x);
        const std::uint8_t *packed_pixel = &band[(y * columns + x) * 4];
        std::copy_n(packed_pixel, 3, &bottom.rgb[pixel * 3]);
        bottom.alpha[pixel] = packed_pixel[3];
      }
    }
  }
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

TopLayer::TopLayer(Image image)
    : width_(image.width), height_(image.height),
      channels_(image.alpha.empty() ? 3 : 4) {
  if (image.alpha.empty()) {
    pixels_ = std::move(image.rgb);
    return;
  }
  const std::size_t count = image.alpha.size();
  pixels_.resize(count * 4);
  for (std::size_t i = 0; i < count; ++i) {
    std::copy_n(&image.rgb[i * 3], 3, &pixels_[i * 4]);
    pixels_[i * 4 + 3] = image.alpha[i];
  }
}

bool is_plain_blend(LayerMode mode, const TopLayer &top,
                    const Layering &layering, bool bottom_has_alpha) {
  return mode.mode() && top.opaque() && opacity_byte(layering.opacity) == 255 &&
         (layering.blend_operator == Operator::atop || !bottom_has_alpha);
}

void blend_onto(LayerMode mode, const TopLayer &top, Image &bottom,
                std::optional<Offset> at, const Layering &layering,
                unsigned threads) {
  if (!at && (top.width() != bottom.width || top.height() != bottom.height)) {
    throw std::invalid_argument("blend_onto: the images differ in size");
  }
  const bool plain = is_plain_blend(mode, top, layering, !bottom.alpha.empty());
  if (plain && !at) {
    blend(*mode.mode(), top.pixels(), bottom.rgb, bottom.rgb,
          Options{.threads = threads});
    return;
  }
  const Offset offset = at.value_or(Offset{});
  const Overlap overlap = overlap_of(top.width(), top.height(), bottom.width,
                                     bottom.height, offset);
  if (overlap.empty()) {
    return;
  }
  // Where the overlap starts in TOP: non-negative, since the overlap lies
  // inside TOP's placed rectangle.
  const auto top_x = static_cast<std::size_t>(overlap.x0 - offset.x);
  const auto top_y = static_cast<std::size_t>(overlap.y0 - offset.y);
  const std::size_t columns = overlap.x1 - overlap.x0;
  const std::size_t rows = overlap.y1 - overlap.y0;
  const ImageView top_part(top.view(), top_x, top_y, columns, rows);
  const MutableImageView bottom_part(
      MutableImageView(bottom.rgb.data(), bottom.width, bottom.height, 3),
      overlap.x0, overlap.y0, columns, rows);
  if (plain) {
    blend(*mode.mode(), top_part, bottom_part, bottom_part,
          Options{.threads = threads});
    return;
  }
  const Options options{.threads = threads,
                        .opacity = layering.opacity,
                        .blend_operator = layering.blend_operator};
  if (layering.blend_operator == Operator::over && !bottom.alpha.empty()) {
    composite_onto_alpha(mode, top_part, bottom, overlap, options);
    return;
  }
  // Atop keeps BOTTOM's alpha and its colours do not depend on it; over
  // onto an opaque BOTTOM is atop: BOTTOM's RGB alone is composited.
  composite(mode, top_part, bottom_part, bottom_part, options);
}

} // namespace byteblend::tool
