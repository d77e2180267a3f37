#include "demo.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include "byteblend.hpp"
#include "file_io.hpp"
#include "image.hpp"
#include "png_image.hpp"

namespace byteblend::tool {
namespace {

constexpr std::uint32_t kSide = 256;

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

std::string figure(std::string_view file, std::string_view title,
                   std::string_view note) {
  std::string html = "<figure><img src=\"";
  html += file;
  html += R"(" width="256" height="256" alt=")";
  html += title;
  html += "\"><figcaption><b>";
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
      "figcaption { margin-top: 0.4em; font-size: 0.9em; }\n"
      "</style>\n</head>\n<body>\n<h1>byteblend: the thirteen blend "
      "modes</h1>\n"
      "<p>Each image blends the top layer (t) onto the bottom layer (b), "
      "byte by byte.</p>\n<main>\n";
  html += figure("top.png", "top", "the layer applied (t)");
  html += figure("bottom.png", "bottom", "the layer it is applied to (b)");
  for (const Mode mode : all_modes) {
    Image blended = bottom;
    blend(mode, top.rgb, bottom.rgb, blended.rgb);
    const std::string file = std::string(name(mode)) + ".png";
    write_into(folder, file, blended);
    html += figure(file, name(mode), describe(mode));
  }
  html += "</main>\n</body>\n</html>\n";

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
