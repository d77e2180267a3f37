#include "png_fixtures.hpp"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <stdexcept>

namespace testing_support {
namespace {

void append(png_structp png, png_bytep data, std::size_t count) {
  auto *out = static_cast<std::vector<std::uint8_t> *>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + count);
}
void no_flush(png_structp /*png*/) {}
[[noreturn]] void fail(png_structp /*png*/, png_const_charp message) {
  // A fixture that libpng refuses is a broken test; stop loudly.
  std::fprintf(stderr, "png fixture: %s\n", message);
  std::abort();
}

int channels(Layout layout) {
  switch (layout) {
  case Layout::grey:
  case Layout::palette:
    return 1;
  case Layout::grey_alpha:
    return 2;
  case Layout::rgb:
    return 3;
  case Layout::rgb_alpha:
    return 4;
  }
  return 0;
}

int colour_type(Layout layout) {
  switch (layout) {
  case Layout::grey:
    return PNG_COLOR_TYPE_GRAY;
  case Layout::grey_alpha:
    return PNG_COLOR_TYPE_GRAY_ALPHA;
  case Layout::palette:
    return PNG_COLOR_TYPE_PALETTE;
  case Layout::rgb:
    return PNG_COLOR_TYPE_RGB;
  case Layout::rgb_alpha:
    return PNG_COLOR_TYPE_RGB_ALPHA;
  }
  return 0;
}

// A sample of `depth` bits as 8 bits: low depths scale up exactly, 16 bits
// round to the nearest of 256 levels.
std::uint8_t to_8_bits(std::uint32_t sample, int depth) {
  if (depth == 16) {
    return static_cast<std::uint8_t>((sample + 128) / 257);
  }
  return static_cast<std::uint8_t>(sample * 255 / ((1U << depth) - 1));
}

} // namespace

std::vector<PngFormat> all_formats() {
  return {
      {"grey 1-bit", Layout::grey, 1},
      {"grey 2-bit", Layout::grey, 2},
      {"grey 4-bit", Layout::grey, 4},
      {"grey 8-bit", Layout::grey, 8},
      {"grey 16-bit", Layout::grey, 16},
      {"grey 8-bit with tRNS", Layout::grey, 8, true},
      {"grey+alpha 8-bit", Layout::grey_alpha, 8},
      {"grey+alpha 16-bit", Layout::grey_alpha, 16},
      {"palette 1-bit", Layout::palette, 1},
      {"palette 2-bit", Layout::palette, 2},
      {"palette 4-bit", Layout::palette, 4},
      {"palette 8-bit", Layout::palette, 8},
      {"palette 8-bit with tRNS", Layout::palette, 8, true},
      {"palette 4-bit interlaced", Layout::palette, 4, false, true},
      {"RGB 8-bit", Layout::rgb, 8},
      {"RGB 16-bit", Layout::rgb, 16},
      {"RGB 8-bit with tRNS", Layout::rgb, 8, true},
      {"RGB 8-bit interlaced", Layout::rgb, 8, false, true},
      {"RGBA 8-bit", Layout::rgb_alpha, 8},
      {"RGBA 16-bit", Layout::rgb_alpha, 16},
      {"RGBA 16-bit interlaced", Layout::rgb_alpha, 16, false, true},
  };
}

Fixture make_png(const PngFormat &format, std::uint32_t width,
                 std::uint32_t height, unsigned seed) {
  std::mt19937 engine(seed);
  const int n = channels(format.layout);
  std::uniform_int_distribution<std::uint32_t> sample(0,
                                                      (1U << format.depth) - 1);
  std::uniform_int_distribution<int> byte(0, 255);

  std::vector<png_color> palette;
  std::vector<png_byte> palette_alpha;
  if (format.layout == Layout::palette) {
    palette.resize(std::size_t{1} << format.depth);
    for (png_color &entry : palette) {
      entry = {static_cast<png_byte>(byte(engine)),
               static_cast<png_byte>(byte(engine)),
               static_cast<png_byte>(byte(engine))};
    }
    if (format.transparency) {
      // Alpha for the first half of the entries; the rest are opaque.
      palette_alpha.resize(palette.size() / 2);
      for (png_byte &a : palette_alpha) {
        a = static_cast<png_byte>(byte(engine));
      }
    }
  }

  std::vector<std::uint32_t> samples(std::size_t{width} * height * n);
  for (std::uint32_t &s : samples) {
    s = sample(engine);
  }
  // A colour key that some pixels hit: the first pixel's.
  png_color_16 key{};
  if (format.transparency && format.layout == Layout::grey) {
    key.gray = static_cast<png_uint_16>(samples[0]);
  }
  if (format.transparency && format.layout == Layout::rgb) {
    key.red = static_cast<png_uint_16>(samples[0]);
    key.green = static_cast<png_uint_16>(samples[1]);
    key.blue = static_cast<png_uint_16>(samples[2]);
    for (std::size_t p = 0; p < samples.size() / 3; p += 5) {
      std::copy_n(samples.begin(), 3,
                  samples.begin() + static_cast<std::ptrdiff_t>(3 * p));
    }
  }
  if (format.transparency && format.layout == Layout::grey) {
    for (std::size_t p = 0; p < samples.size(); p += 5) {
      samples[p] = samples[0];
    }
  }

  Fixture fixture{{}, width, height, {}, {}};
  const bool alpha = format.layout == Layout::grey_alpha ||
                     format.layout == Layout::rgb_alpha || format.transparency;
  fixture.rgb.resize(std::size_t{width} * height * 3);
  if (alpha) {
    fixture.alpha.resize(std::size_t{width} * height);
  }
  for (std::size_t p = 0; p < std::size_t{width} * height; ++p) {
    const std::uint32_t *s = &samples[p * n];
    std::uint8_t *rgb = &fixture.rgb[3 * p];
    switch (format.layout) {
    case Layout::grey:
    case Layout::grey_alpha:
      rgb[0] = rgb[1] = rgb[2] = to_8_bits(s[0], format.depth);
      if (format.layout == Layout::grey_alpha) {
        fixture.alpha[p] = to_8_bits(s[1], format.depth);
      } else if (format.transparency) {
        fixture.alpha[p] = s[0] == key.gray ? 0 : 255;
      }
      break;
    case Layout::palette:
      rgb[0] = palette[s[0]].red;
      rgb[1] = palette[s[0]].green;
      rgb[2] = palette[s[0]].blue;
      if (format.transparency) {
        fixture.alpha[p] =
            s[0] < palette_alpha.size() ? palette_alpha[s[0]] : 255;
      }
      break;
    case Layout::rgb:
    case Layout::rgb_alpha:
      for (int c = 0; c < 3; ++c) {
        rgb[c] = to_8_bits(s[c], format.depth);
      }
      if (format.layout == Layout::rgb_alpha) {
        fixture.alpha[p] = to_8_bits(s[3], format.depth);
      } else if (format.transparency) {
        fixture.alpha[p] =
            s[0] == key.red && s[1] == key.green && s[2] == key.blue ? 0 : 255;
      }
      break;
    }
  }

  // Rows as stored: samples packed high bits first, 16-bit big-endian.
  const std::size_t row_bytes = (std::size_t{width} * n * format.depth + 7) / 8;
  std::vector<png_byte> data(row_bytes * height, 0);
  for (std::uint32_t y = 0; y < height; ++y) {
    png_byte *row = &data[y * row_bytes];
    for (std::size_t i = 0; i < std::size_t{width} * n; ++i) {
      const std::uint32_t s = samples[y * std::size_t{width} * n + i];
      if (format.depth == 16) {
        row[2 * i] = static_cast<png_byte>(s >> 8);
        row[2 * i + 1] = static_cast<png_byte>(s);
      } else if (format.depth == 8) {
        row[i] = static_cast<png_byte>(s);
      } else {
        const std::size_t bit = i * format.depth;
        row[bit / 8] |=
            static_cast<png_byte>(s << (8 - format.depth - bit % 8));
      }
    }
  }
  std::vector<png_bytep> rows(height);
  for (std::uint32_t y = 0; y < height; ++y) {
    rows[y] = &data[y * row_bytes];
  }

  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, fail, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &fixture.file, append, no_flush);
  png_set_IHDR(png, info, width, height, format.depth,
               colour_type(format.layout),
               format.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!palette.empty()) {
    png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
  }
  if (!palette_alpha.empty()) {
    png_set_tRNS(png, info, palette_alpha.data(),
                 static_cast<int>(palette_alpha.size()), nullptr);
  } else if (format.transparency) {
    png_set_tRNS(png, info, nullptr, 0, &key);
  }
  png_write_info(png, info);
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return fixture;
}

std::vector<std::uint8_t> with_claimed_size(std::vector<std::uint8_t> file,
                                            std::uint32_t width,
                                            std::uint32_t height) {
  // Signature (8), IHDR length (4), "IHDR" (4), width, height, ..., CRC of
  // type and data at 29.
  const auto put = [&](std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
      file[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
    }
  };
  put(16, width);
  put(20, height);
  put(29, static_cast<std::uint32_t>(crc32(0, &file[12], 17)));
  return file;
}

} // namespace testing_support
