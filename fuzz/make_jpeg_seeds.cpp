// SPDX-License-Identifier: MIT
// Writes small JPEG files into a directory, to seed the JPEG fuzzer with:
// valid ones of each kind the reader meets (baseline, progressive, restart
// markers, arithmetic coding, grey, CMYK, odd sizes), written with libjpeg,
// and broken ones made from them (truncated in the header and in the
// entropy data, corrupt entropy data, absurd and zero dimensions).
//
// Usage: make_jpeg_seeds DIRECTORY
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "jpeg_fixtures.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;
using testing_support::JpegColour;
using testing_support::JpegFormat;

bool write(const std::string &folder, const std::string &name,
           const Bytes &bytes) {
  const std::string path = folder + "/" + name;
  std::FILE *file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    return false;
  }
  const bool written =
      std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

Bytes cut(Bytes bytes, std::size_t size) {
  bytes.resize(std::min(size, bytes.size()));
  return bytes;
}

// Flips bits at a few places of the entropy-coded data.
Bytes corrupt(Bytes bytes) {
  const std::size_t data = testing_support::first_scan_data(bytes);
  for (std::size_t at = data + 7; at + 2 < bytes.size(); at += 53) {
    bytes[at] ^= 0x5A;
  }
  return bytes;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_jpeg_seeds DIRECTORY\n");
    return 2;
  }
  const std::string folder = argv[1];
  const std::vector<std::pair<JpegFormat, std::pair<int, int>>> kinds = {
      {{"baseline"}, {16, 16}},
      {{"baseline-odd"}, {13, 7}},
      {{"quality-100", JpegColour::ycbcr, false, 0, false, 100}, {9, 9}},
      {{"progressive", JpegColour::ycbcr, true}, {24, 17}},
      {{"restart", JpegColour::ycbcr, false, 1}, {32, 24}},
      {{"progressive-restart", JpegColour::ycbcr, true, 1}, {32, 24}},
      {{"arithmetic", JpegColour::ycbcr, false, 0, true}, {16, 16}},
      {{"arithmetic-progressive", JpegColour::ycbcr, true, 0, true}, {16, 16}},
      {{"grey", JpegColour::grey}, {11, 5}},
      {{"grey-progressive", JpegColour::grey, true}, {16, 9}},
      {{"cmyk", JpegColour::cmyk}, {8, 8}},
      {{"one-pixel"}, {1, 1}},
  };
  bool ok = true;
  unsigned seed = 1;
  for (const auto &[format, size] : kinds) {
    const Bytes file = testing_support::make_jpeg(
        format, static_cast<std::uint32_t>(size.first),
        static_cast<std::uint32_t>(size.second), ++seed);
    ok = ok && write(folder, format.name + ".jpg", file);
    if (format.name == "baseline" || format.name == "progressive" ||
        format.name == "restart") {
      const std::size_t data = testing_support::first_scan_data(file);
      ok = ok && write(folder, format.name + "-cut-header.jpg", cut(file, 40));
      ok = ok && write(folder, format.name + "-cut-data.jpg",
                       cut(file, data + (file.size() - data) / 2));
      ok = ok && write(folder, format.name + "-corrupt.jpg", corrupt(file));
      ok = ok &&
           write(folder, format.name + "-huge.jpg",
                 testing_support::with_claimed_jpeg_size(file, 65500, 65500));
      // Within what the fuzzer decodes (2^22 pixels), far beyond the data.
      ok = ok &&
           write(folder, format.name + "-large.jpg",
                 testing_support::with_claimed_jpeg_size(file, 2048, 2048));
      ok = ok && write(folder, format.name + "-zero.jpg",
                       testing_support::with_claimed_jpeg_size(file, 0, 16));
    }
  }
  if (!ok) {
    std::fprintf(stderr, "make_jpeg_seeds: cannot write into %s\n",
                 folder.c_str());
    return 1;
  }
  return 0;
}
