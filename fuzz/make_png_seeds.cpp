// SPDX-License-Identifier: MIT
// Writes small PNG files into a directory, to seed the PNG fuzzer with:
// valid images of each colour type (filters of every kind, interlacing, a
// palette, several IDAT chunks, 16-bit samples), and broken ones
// (truncated, wrong CRC, bad zlib checksum, no IEND, huge or zero
// dimensions). The image data is stored uncompressed (deflate's stored
// blocks), so the files need no compression library to write.
//
// Usage: make_png_seeds DIRECTORY
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t crc32(const std::uint8_t *data, std::size_t size) {
  std::uint32_t crc = 0xFFFFFFFFU;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc >> 1) ^ (0xEDB88320U & (0U - (crc & 1U)));
    }
  }
  return ~crc;
}

std::uint32_t adler32(const Bytes &data) {
  std::uint32_t a = 1;
  std::uint32_t b = 0;
  for (const std::uint8_t byte : data) {
    a = (a + byte) % 65521U;
    b = (b + a) % 65521U;
  }
  return (b << 16) | a;
}

void put32(Bytes &out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    out.push_back(static_cast<std::uint8_t>(value >> shift));
  }
}

void chunk(Bytes &png, const char (&type)[5], const Bytes &data,
           std::uint32_t crc_flip = 0) {
  put32(png, static_cast<std::uint32_t>(data.size()));
  const std::size_t start = png.size();
  png.insert(png.end(), type, type + 4);
  png.insert(png.end(), data.begin(), data.end());
  put32(png, crc32(png.data() + start, png.size() - start) ^ crc_flip);
}

// A zlib stream of stored deflate blocks.
Bytes zlib_stored(const Bytes &raw, std::uint32_t adler_flip = 0) {
  Bytes out = {0x78, 0x01};
  std::size_t at = 0;
  do {
    const std::size_t count = std::min<std::size_t>(raw.size() - at, 65535);
    const bool last = at + count == raw.size();
    out.push_back(last ? 1 : 0);
    out.push_back(static_cast<std::uint8_t>(count));
    out.push_back(static_cast<std::uint8_t>(count >> 8));
    out.push_back(static_cast<std::uint8_t>(~count));
    out.push_back(static_cast<std::uint8_t>(~count >> 8));
    out.insert(out.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
               raw.begin() + static_cast<std::ptrdiff_t>(at + count));
    at += count;
  } while (at < raw.size());
  put32(out, adler32(raw) ^ adler_flip);
  return out;
}

struct Header {
  std::uint32_t width;
  std::uint32_t height;
  std::uint8_t depth;
  std::uint8_t colour; // 0 grey, 2 RGB, 3 palette, 4 grey+alpha, 6 RGBA
  std::uint8_t interlace = 0;
};

int channels(std::uint8_t colour) {
  switch (colour) {
  case 2:
    return 3;
  case 4:
    return 2;
  case 6:
    return 4;
  default:
    return 1;
  }
}

// Filtered scanlines of a width x height (sub)image: row r uses filter
// r mod 5, so every filter type appears; the sample bytes are arbitrary.
void append_rows(Bytes &raw, const Header &h, std::uint32_t width,
                 std::uint32_t height, unsigned seed) {
  if (width == 0 || height == 0) {
    return;
  }
  const std::size_t row_bytes =
      (static_cast<std::size_t>(width) * channels(h.colour) * h.depth + 7) / 8;
  for (std::uint32_t r = 0; r < height; ++r) {
    raw.push_back(static_cast<std::uint8_t>(r % 5));
    for (std::size_t i = 0; i < row_bytes; ++i) {
      seed = seed * 1103515245U + 12345U;
      std::uint8_t byte = static_cast<std::uint8_t>(seed >> 16);
      if (h.colour == 3) {
        byte &= 0x01; // two palette entries at depth 8: indices 0 and 1
      }
      raw.push_back(byte);
    }
  }
}

Bytes scanlines(const Header &h) {
  Bytes raw;
  if (h.interlace == 0) {
    append_rows(raw, h, h.width, h.height, 7);
    return raw;
  }
  // Adam7: starting column and row, then step, of each of the seven passes.
  constexpr std::array<std::array<std::uint32_t, 4>, 7> kPasses = {{
      {0, 0, 8, 8},
      {4, 0, 8, 8},
      {0, 4, 4, 8},
      {2, 0, 4, 4},
      {0, 2, 2, 4},
      {1, 0, 2, 2},
      {0, 1, 1, 2},
  }};
  for (const auto &[x0, y0, dx, dy] : kPasses) {
    const std::uint32_t width = h.width > x0 ? (h.width - x0 + dx - 1) / dx : 0;
    const std::uint32_t height =
        h.height > y0 ? (h.height - y0 + dy - 1) / dy : 0;
    append_rows(raw, h, width, height, x0 * 31 + y0);
  }
  return raw;
}

const std::array<std::uint8_t, 8> kSignature = {0x89, 'P',  'N',  'G',
                                                0x0D, 0x0A, 0x1A, 0x0A};

Bytes ihdr(const Header &h) {
  Bytes data;
  put32(data, h.width);
  put32(data, h.height);
  data.insert(data.end(), {h.depth, h.colour, 0, 0, h.interlace});
  return data;
}

struct Breakage {
  std::uint32_t ihdr_crc_flip = 0;
  std::uint32_t idat_crc_flip = 0;
  std::uint32_t adler_flip = 0;
  std::size_t idat_chunks = 1;
  bool iend = true;
};

Bytes png(const Header &h, const Breakage &broken = {}) {
  Bytes out(kSignature.begin(), kSignature.end());
  chunk(out, "IHDR", ihdr(h), broken.ihdr_crc_flip);
  if (h.colour == 3) {
    chunk(out, "PLTE", {200, 10, 10, 10, 200, 10});
    chunk(out, "tRNS", {255, 128});
  }
  const Bytes stream = zlib_stored(scanlines(h), broken.adler_flip);
  const std::size_t piece =
      (stream.size() + broken.idat_chunks - 1) / broken.idat_chunks;
  for (std::size_t at = 0; at < stream.size(); at += piece) {
    const std::size_t end = std::min(stream.size(), at + piece);
    chunk(out, "IDAT",
          Bytes(stream.begin() + static_cast<std::ptrdiff_t>(at),
                stream.begin() + static_cast<std::ptrdiff_t>(end)),
          broken.idat_crc_flip);
  }
  if (broken.iend) {
    chunk(out, "IEND", {});
  }
  return out;
}

// A header that claims a huge image, followed by a tiny IDAT.
Bytes huge(std::uint32_t width, std::uint32_t height, std::uint8_t colour) {
  Bytes out(kSignature.begin(), kSignature.end());
  chunk(out, "IHDR", ihdr({width, height, 8, colour}));
  chunk(out, "IDAT", zlib_stored({0, 1, 2, 3}));
  chunk(out, "IEND", {});
  return out;
}

bool write(const std::string &directory, const std::string &name,
           const Bytes &bytes) {
  const std::string path = directory + "/" + name;
  std::FILE *file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    std::perror(path.c_str());
    return false;
  }
  const bool written =
      std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fputs("usage: make_png_seeds DIRECTORY\n", stderr);
    return 2;
  }
  const std::string directory = argv[1];
  const Bytes rgb = png({4, 5, 8, 2});
  const std::vector<std::pair<std::string, Bytes>> seeds = {
      {"rgb8_1x1.png", png({1, 1, 8, 2})},
      {"rgb8_4x5_all_filters.png", rgb},
      {"rgba8_3x2.png", png({3, 2, 8, 6})},
      {"grey8_2x2.png", png({2, 2, 8, 0})},
      {"grey_alpha8_2x3.png", png({2, 3, 8, 4})},
      {"rgb16_2x2.png", png({2, 2, 16, 2})},
      {"grey1_9x2.png", png({9, 2, 1, 0})},
      {"palette8_3x2_trns.png", png({3, 2, 8, 3})},
      {"rgb8_5x5_interlaced.png", png({5, 5, 8, 2, 1})},
      {"rgba8_9x9_interlaced.png", png({9, 9, 8, 6, 1})},
      {"rgb8_6x6_three_idat.png", png({6, 6, 8, 2}, {.idat_chunks = 3})},
      {"truncated_in_idat.png", Bytes(rgb.begin(), rgb.end() - 30)},
      {"truncated_in_ihdr.png", Bytes(rgb.begin(), rgb.begin() + 20)},
      {"signature_only.png", Bytes(kSignature.begin(), kSignature.end())},
      {"wrong_crc_ihdr.png", png({4, 5, 8, 2}, {.ihdr_crc_flip = 1})},
      {"wrong_crc_idat.png", png({4, 5, 8, 2}, {.idat_crc_flip = 0x100})},
      {"wrong_adler.png", png({4, 5, 8, 2}, {.adler_flip = 1})},
      {"no_iend.png", png({4, 5, 8, 2}, {.iend = false})},
      {"zero_width.png", png({0, 3, 8, 2})},
      {"huge_2g_by_2g.png", huge(0x7FFFFFFFU, 0x7FFFFFFFU, 2)},
      {"huge_65535_square_rgba.png", huge(65535, 65535, 6)},
      {"huge_1_by_2g.png", huge(1, 0x7FFFFFFFU, 2)},
      {"width_over_2g.png", huge(0x80000000U, 1, 2)},
  };
  for (const auto &[name, bytes] : seeds) {
    if (!write(directory, name, bytes)) {
      return 1;
    }
  }
  std::printf("%zu seeds in %s\n", seeds.size(), directory.c_str());
  return 0;
}
