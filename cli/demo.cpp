#include "demo.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include "byteblend.hpp"
#include "byteblend_layers.hpp"
#include "file_io.hpp"
#include "image.hpp"
#include "placement.hpp"
#include "png_image.hpp"

namespace byteblend::tool {
namespace {

constexpr std::uint32_t kSide = 256;
// The layers' row: small tiles, so that its 31 images cost little.
constexpr std::uint32_t kTile = 128;
// The opacities of the strip, one tile each.
constexpr std::array kStripOpacities = {0.0, 0.25, 0.5, 0.75, 1.0};

std::uint8_t byte(double unit) {
  return static_cast<std::uint8_t>(
      std::lround(std::clamp(unit, 0.0, 1.0) * 255.0));
}

// Hue in turns, saturation and value in 0..1, to RGB.
void hsv(double hue, double saturation, double value, std::uint8_t *rgb) {
  const double h = (hue - std::floor(hue)) * 6.0;
  const int sector = static_cast<int>(h) % 6;
  const double f = h - std::floor(h);
  const double p = value * (1.0 - saturation);
  const double q = value * (1.0 - saturation * f);
  const double t = value * (1.0 - saturation * (1.0 - f));
  double r = value;
  double g = t;
  double b = p;
  switch (sector) {
  case 1:
    r = q, g = value, b = p;
    break;
  case 2:
    r = p, g = value, b = t;
    break;
  case 3:
    r = p, g = q, b = value;
    break;
  case 4:
    r = t, g = p, b = value;
    break;
  case 5:
    r = value, g = p, b = q;
    break;
  default:
    break;
  }
  rgb[0] = byte(r);
  rgb[1] = byte(g);
  rgb[2] = byte(b);
}

std::string_view describe(Mode mode) {
  switch (mode) {
  case Mode::addition:
    return "t + b, clamped to 255";
  case Mode::subtraction:
    return "t &minus; b, clamped to 0";
  case Mode::multiplication:
    return "t &times; b / 255";
  case Mode::screen:
    return "1 &minus; (1 &minus; t)(1 &minus; b)";
  case Mode::overlay:
    return "multiply where b is dark, screen where light";
  case Mode::lighten:
    return "the larger of t and b";
  case Mode::darken:
    return "the smaller of t and b";
  case Mode::color_dodge:
    return "b / (1 &minus; t)";
  case Mode::color_burn:
    return "1 &minus; (1 &minus; b) / t";
  case Mode::opacity:
    return "(t + b) / 2";
  case Mode::red_channel:
    return "3t + b on red only; green and blue from the bottom";
  case Mode::green_channel:
    return "3t + b on green only; red and blue from the bottom";
  case Mode::blue_channel:
    return "3t + b on blue only; red and green from the bottom";
  }
  return "";
}

// An <img> of `file`, of the image's own size; class "alpha" shows a checker
// through its transparent parts.
std::string img(std::string_view file, std::string_view alt,
                const Image &image) {
  std::string html = "<img src=\"";
  html += file;
  html += "\" width=\"" + std::to_string(image.width) + "\" height=\"" +
          std::to_string(image.height) + "\"";
  html += image.alpha.empty() ? "" : " class=\"alpha\"";
  html += " alt=\"";
  html += alt;
  html += "\">";
  return html;
}

// A figure of one or more images side by side.
std::string figure(std::string_view images, std::string_view title,
                   std::string_view note) {
  std::string html = "<figure>";
  html += images;
  html += "<figcaption><b>";
  html += title;
  html += "</b><br>";
  html += note;
  html += "</figcaption></figure>\n";
  return html;
}

void write_into(const std::filesystem::path &folder, std::string_view name,
                const Image &image) {
  const std::filesystem::path path = folder / name;
  try {
    write_file(path, encode_png(image));
  } catch (const std::runtime_error &error) {
    throw std::runtime_error(path.string() + ": " + error.what());
  }
}

// A colour wheel on a vertical grey ramp.
Image demo_top(std::uint32_t width, std::uint32_t height) {
  Image image{width,
              height,
              std::vector<std::uint8_t>(std::size_t{3} * width * height),
              {}};
  const double cx = (width - 1) / 2.0;
  const double cy = (height - 1) / 2.0;
  const double radius = 0.45 * std::min(width, height);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      // cppcheck takes this pointer into image.rgb for a second
      // initialisation of it (a false positive).
      // cppcheck-suppress redundantInitialization
      std::uint8_t *pixel = &image.rgb[3 * (std::size_t{y} * width + x)];
      const double dx = x - cx;
      const double dy = y - cy;
      const double distance = std::hypot(dx, dy) / radius;
      if (distance <= 1.0) {
        hsv(std::atan2(dy, dx) / (2 * std::numbers::pi), distance, 1.0, pixel);
      } else {
        const std::uint8_t grey = byte(y / (height - 1.0));
        pixel[0] = pixel[1] = pixel[2] = grey;
      }
    }
  }
  return image;
}

// The colour wheel on a smaller side, with alpha: opaque within half its
// radius, fading out to the rim, transparent beyond it.
Image demo_layer(std::uint32_t side) {
  Image image = demo_top(side, side);
  image.alpha.resize(std::size_t{side} * side);
  const double centre = (side - 1) / 2.0;
  const double radius = 0.45 * side;
  for (std::uint32_t y = 0; y < side; ++y) {
    for (std::uint32_t x = 0; x < side; ++x) {
      const double distance = std::hypot(x - centre, y - centre) / radius;
      image.alpha[std::size_t{y} * side + x] = byte(2.0 * (1.0 - distance));
    }
  }
  return image;
}

// A colour gradient under a checker of light and dark squares.
Image demo_bottom(std::uint32_t width, std::uint32_t height) {
  Image image{width,
              height,
              std::vector<std::uint8_t>(std::size_t{3} * width * height),
              {}};
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      // cppcheck takes this pointer into image.rgb for a second
      // initialisation of it (a false positive).
      // cppcheck-suppress redundantInitialization
      std::uint8_t *pixel = &image.rgb[3 * (std::size_t{y} * width + x)];
      const double u = x / (width - 1.0);
      const double v = y / (height - 1.0);
      const bool dark = ((x / 32) + (y / 32)) % 2 == 1;
      const double shade = dark ? 0.35 : 1.0;
      pixel[0] = byte(shade * u);
      pixel[1] = byte(shade * (0.25 + 0.5 * v));
      pixel[2] = byte(shade * (1.0 - u));
    }
  }
  return image;
}

// The bottom of the layers' row: demo_bottom, opaque on its left half and
// fading out to transparent across the right half.
Image demo_bottom_with_alpha(std::uint32_t side) {
  Image image = demo_bottom(side, side);
  image.alpha.resize(std::size_t{side} * side);
  for (std::uint32_t y = 0; y < side; ++y) {
    for (std::uint32_t x = 0; x < side; ++x) {
      image.alpha[std::size_t{y} * side + x] =
          byte(2.0 * (1.0 - x / (side - 1.0)));
    }
  }
  return image;
}

// The layers' row: the transparent layer on the half-transparent bottom in
// every layer mode, atop and over (through the tool's own blend_onto), then
// the layer in normal at each opacity of the strip, placed side by side on
// the bottom's colours, opaque, repeated once per tile.
std::string write_layers(const std::filesystem::path &folder) {
  const Image layer_image = demo_layer(kTile);
  const Image bottom = demo_bottom_with_alpha(kTile);
  // In a folder of their own: a glob of the gallery's *.png gives images of
  // one size (the README's session lays top.png onto them all).
  const std::filesystem::path layers = folder / "layers";
  std::error_code error;
  create_folder(layers, error);
  if (error) {
    throw std::runtime_error(layers.string() +
                             ": cannot create folder: " + error.message());
  }
  write_into(layers, "layer.png", layer_image);
  write_into(layers, "bottom-alpha.png", bottom);
  const TopLayer layer(layer_image);
  std::string html =
      "</main>\n<h2>Layers: a transparent top, atop and over</h2>\n"
      "<p>The layer's alpha shows how much of each blend is laid on. Atop "
      "(left), the layer paints only where the bottom is and the bottom "
      "keeps its alpha; over (right), it also shows where the bottom is "
      "transparent.</p>\n<main>\n";
  html += figure(img("layers/layer.png", "layer", layer_image), "layer",
                 "the top, with alpha");
  html += figure(img("layers/bottom-alpha.png", "bottom with alpha", bottom),
                 "bottom", "opaque on the left, transparent on the right");
  for (const LayerMode mode : all_layer_modes) {
    std::string images;
    for (const Operator blend_operator : {Operator::atop, Operator::over}) {
      const std::string_view how =
          blend_operator == Operator::atop ? "atop" : "over";
      Image result = bottom;
      blend_onto(mode, layer, result, std::nullopt, {1, blend_operator}, 1);
      const std::string file =
          std::string(how) + "-" + std::string(name(mode)) + ".png";
      write_into(layers, file, result);
      images += img("layers/" + file,
                    std::string(name(mode)) + " " + std::string(how), result);
    }
    html += figure("<div class=\"pair\">" + images + "</div>", name(mode),
                   "atop | over");
  }
  // The strip's bottom: bottom's colours, opaque, once under each tile.
  const std::size_t tiles = kStripOpacities.size();
  Image strip{kTile * static_cast<std::uint32_t>(tiles),
              kTile,
              std::vector<std::uint8_t>(bottom.rgb.size() * tiles),
              {}};
  for (std::size_t y = 0; y < kTile; ++y) {
    for (std::size_t i = 0; i < tiles; ++i) {
      std::copy_n(&bottom.rgb[y * kTile * 3], kTile * 3,
                  &strip.rgb[(y * tiles + i) * kTile * 3]);
    }
  }
  std::string opacities;
  for (std::size_t i = 0; i < tiles; ++i) {
    blend_onto(LayerMode::normal, layer, strip,
               Offset{static_cast<std::int64_t>(i * kTile), 0},
               {kStripOpacities[i], Operator::atop}, 1);
    opacities += (i == 0 ? "" : ", ") +
                 std::to_string(std::lround(kStripOpacities[i] * 100)) + "%";
  }
  write_into(layers, "opacity-strip.png", strip);
  html += "</main>\n<h2>Opacity</h2>\n<p>The layer in normal at " + opacities +
          ".</p>\n";
  html += img("layers/opacity-strip.png", "opacity strip", strip);
  return html + "\n";
}

} // namespace

std::filesystem::path write_demo(const std::filesystem::path &folder) {
  std::error_code error;
  create_folder(folder, error);
  if (error) {
    throw std::runtime_error(folder.string() +
                             ": cannot create folder: " + error.message());
  }
  const Image top = demo_top(kSide, kSide);
  const Image bottom = demo_bottom(kSide, kSide);
  write_into(folder, "top.png", top);
  write_into(folder, "bottom.png", bottom);

  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<title>byteblend: the thirteen blend modes</title>\n<style>\n"
      "body { font-family: sans-serif; margin: 2em; background: #f4f4f4; }\n"
      "main { display: grid; gap: 1.5em;"
      " grid-template-columns: repeat(auto-fill, minmax(260px, 1fr)); }\n"
      "figure { margin: 0; } img { display: block; border: 1px solid #888; "
      "image-rendering: pixelated; }\n"
      ".pair { display: flex; }\n"
      "img.alpha { background: repeating-conic-gradient(#bbb 0 25%, #fff 0 "
      "50%) 0 0 / 16px 16px; }\n"
      "figcaption { margin-top: 0.4em; font-size: 0.9em; }\n"
      "</style>\n</head>\n<body>\n<h1>byteblend: the thirteen blend "
      "modes</h1>\n"
      "<p>Each image blends the top layer (t) onto the bottom layer (b), "
      "byte by byte.</p>\n<main>\n";
  html += figure(img("top.png", "top", top), "top", "the layer applied (t)");
  html += figure(img("bottom.png", "bottom", bottom), "bottom",
                 "the layer it is applied to (b)");
  for (const Mode mode : all_modes) {
    Image blended = bottom;
    blend(mode, top.rgb, bottom.rgb, blended.rgb);
    const std::string file = std::string(name(mode)) + ".png";
    write_into(folder, file, blended);
    html += figure(img(file, name(mode), blended), name(mode), describe(mode));
  }
  html += write_layers(folder);
  html += "</body>\n</html>\n";

  std::filesystem::path index = folder / "index.html";
  try {
    write_file(index,
               std::span(reinterpret_cast<const std::uint8_t *>(html.data()),
                         html.size()));
  } catch (const std::runtime_error &failure) {
    throw std::runtime_error(index.string() + ": " + failure.what());
  }
  return index;
}

} // namespace byteblend::tool
