#include "jpeg_fixtures.hpp"

#include <cstddef>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <random>
#include <stdexcept>

namespace testing_support {

namespace {

// libjpeg's default error handler prints and exits: fine for fixtures,
// which only write files and read valid ones.
int components_of(JpegColour colour) {
  switch (colour) {
  case JpegColour::grey:
    return 1;
  case JpegColour::ycbcr:
    return 3;
  case JpegColour::cmyk:
    return 4;
  }
  return 3;
}

std::vector<std::uint8_t> samples(std::uint32_t width, std::uint32_t height,
                                  int components, unsigned seed, bool smooth) {
  std::mt19937 engine(seed);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> jitter(-6, 6);
  std::vector<std::uint8_t> data(std::size_t{width} * height *
                                 static_cast<std::size_t>(components));
  std::size_t i = 0;
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      for (int c = 0; c < components; ++c, ++i) {
        if (!smooth) {
          data[i] = static_cast<std::uint8_t>(byte(engine));
          continue;
        }
        const int ramp = static_cast<int>(
            (x * (40U + 50U * static_cast<unsigned>(c)) + y * 90U) /
            (width + height));
        data[i] = static_cast<std::uint8_t>(
            std::clamp(60 + ramp + jitter(engine), 0, 255));
      }
    }
  }
  return data;
}

} // namespace

namespace {

// Compresses the samples (width * height * the format's components) with
// libjpeg's defaults for the format; `script`, if not empty, replaces the
// scan script.
std::vector<std::uint8_t> compress(const JpegFormat &format,
                                   std::uint32_t width, std::uint32_t height,
                                   const std::vector<std::uint8_t> &data,
                                   const std::vector<jpeg_scan_info> &script) {
  const int components = components_of(format.colour);
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char *buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = width;
  info.image_height = height;
  info.input_components = components;
  info.in_color_space = format.colour == JpegColour::grey   ? JCS_GRAYSCALE
                        : format.colour == JpegColour::cmyk ? JCS_CMYK
                                                            : JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, format.quality, TRUE);
  if (format.progressive) {
    jpeg_simple_progression(&info);
  }
  if (!script.empty()) {
    info.scan_info = script.data();
    info.num_scans = static_cast<int>(script.size());
  }
  info.restart_in_rows = static_cast<int>(format.restart_rows);
  info.arith_code = format.arithmetic ? TRUE : FALSE;
  jpeg_start_compress(&info, TRUE);
  const std::size_t row_bytes =
      std::size_t{width} * static_cast<std::size_t>(components);
  // libjpeg only reads the rows; its interface predates const.
  auto *samples = const_cast<std::uint8_t *>(data.data());
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = samples + info.next_scanline * row_bytes;
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::vector<std::uint8_t> file(buffer, buffer + size);
  std::free(buffer);
  return file;
}

} // namespace

std::vector<std::uint8_t> make_jpeg(const JpegFormat &format,
                                    std::uint32_t width, std::uint32_t height,
                                    unsigned seed, bool smooth) {
  return compress(
      format, width, height,
      samples(width, height, components_of(format.colour), seed, smooth), {});
}

std::vector<std::uint8_t> make_flat_jpeg(const JpegFormat &format,
                                         std::uint32_t width,
                                         std::uint32_t height,
                                         std::uint8_t value) {
  const std::vector<std::uint8_t> data(
      std::size_t{width} * height *
          static_cast<std::size_t>(components_of(format.colour)),
      value);
  return compress(format, width, height, data, {});
}

std::vector<std::uint8_t> make_many_scan_jpeg(std::uint32_t width,
                                              std::uint32_t height, int bands,
                                              int refinements) {
  const JpegFormat format{"grey progressive", JpegColour::grey, true};
  std::vector<jpeg_scan_info> script;
  script.push_back({1, {0}, 0, 0, 0, 0}); // DC, whole
  for (int band = 0; band < bands; ++band) {
    const int first = 1 + band * 63 / bands;
    const int last = (band + 1) * 63 / bands;
    script.push_back({1, {0}, first, last, 0, refinements});
    for (int bit = refinements; bit > 0; --bit) {
      script.push_back({1, {0}, first, last, bit, bit - 1});
    }
  }
  return compress(format, width, height,
                  samples(width, height, 1, width + height, false), script);
}

std::vector<JpegFormat> readable_jpeg_formats() {
  return {
      {"baseline", JpegColour::ycbcr},
      {"baseline quality 100", JpegColour::ycbcr, false, 0, false, 100},
      {"progressive", JpegColour::ycbcr, true},
      {"restart markers", JpegColour::ycbcr, false, 1},
      {"progressive restart markers", JpegColour::ycbcr, true, 2},
      {"arithmetic", JpegColour::ycbcr, false, 0, true},
      {"progressive arithmetic", JpegColour::ycbcr, true, 0, true},
      {"grey", JpegColour::grey},
      {"grey progressive", JpegColour::grey, true},
  };
}

Pixels decode_with_libjpeg(std::span<const std::uint8_t> file) {
  jpeg_decompress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, file.data(), file.size());
  jpeg_read_header(&info, TRUE);
  jpeg_start_decompress(&info);
  Pixels pixels{info.output_width, info.output_height, {}};
  const auto channels = static_cast<std::size_t>(info.output_components);
  std::vector<std::uint8_t> data(std::size_t{pixels.width} * pixels.height *
                                 channels);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = data.data() +
                   std::size_t{info.output_scanline} * pixels.width * channels;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  if (channels == 3) {
    pixels.rgb = std::move(data);
  } else {
    for (const std::uint8_t grey : data) {
      pixels.rgb.insert(pixels.rgb.end(), 3, grey);
    }
  }
  return pixels;
}

namespace {

struct RecordingErrors {
  jpeg_error_mgr base{}; // first, so that a jpeg_error_mgr * is one of these
  std::jmp_buf jump{};
  int warnings = 0;
};

RecordingErrors &recording(j_common_ptr info) {
  return *reinterpret_cast<RecordingErrors *>(info->err);
}

[[noreturn]] void give_up(j_common_ptr info) {
  std::longjmp(recording(info).jump, 1);
}

void count_warning(j_common_ptr info, int level) {
  if (level < 0) {
    ++recording(info).warnings;
  }
}

// Decodes into `row` (one row, large enough), row after row; false when
// libjpeg gives up. Only trivially destructible locals: libjpeg longjmps
// out of it.
bool decode_recording(jpeg_decompress_struct &info, RecordingErrors &errors,
                      std::span<const std::uint8_t> file,
                      std::vector<std::uint8_t> &row) {
  if (setjmp(errors.jump)) {
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, file.data(), file.size());
  jpeg_read_header(&info, TRUE);
  if (std::size_t{info.image_width} * 4 > row.size()) {
    return false; // a size not worth decoding here
  }
  jpeg_start_decompress(&info);
  JSAMPROW rows[1] = {row.data()};
  while (info.output_scanline < info.output_height) {
    jpeg_read_scanlines(&info, rows, 1);
  }
  jpeg_finish_decompress(&info);
  return true;
}

} // namespace

LibjpegVerdict libjpeg_verdict(std::span<const std::uint8_t> file) {
  jpeg_decompress_struct info{};
  RecordingErrors errors;
  info.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = give_up;
  errors.base.emit_message = count_warning;
  std::vector<std::uint8_t> row(std::size_t{1} << 16);
  const bool decoded = decode_recording(info, errors, file, row);
  jpeg_destroy_decompress(&info);
  return {!decoded, errors.warnings};
}

namespace {

// The offset of the first marker (0xFF, code) whose code is wanted.
std::size_t find_marker(const std::vector<std::uint8_t> &file,
                        bool (*wanted)(std::uint8_t)) {
  std::size_t at = 2;
  while (at + 4 <= file.size()) {
    if (file[at] != 0xFF) {
      throw std::invalid_argument("not a marker where one belongs");
    }
    if (wanted(file[at + 1])) {
      return at;
    }
    at += 2 + (std::size_t{file[at + 2]} << 8 | file[at + 3]);
  }
  throw std::invalid_argument("marker not found");
}

} // namespace

std::vector<std::uint8_t> with_claimed_jpeg_size(std::vector<std::uint8_t> file,
                                                 std::uint16_t width,
                                                 std::uint16_t height) {
  // SOF0 to SOF15 but DHT (C4), JPG (C8) and DAC (CC).
  const std::size_t sof = find_marker(file, [](std::uint8_t code) {
    return code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 &&
           code != 0xCC;
  });
  file[sof + 5] = static_cast<std::uint8_t>(height >> 8);
  file[sof + 6] = static_cast<std::uint8_t>(height);
  file[sof + 7] = static_cast<std::uint8_t>(width >> 8);
  file[sof + 8] = static_cast<std::uint8_t>(width);
  return file;
}

std::size_t first_scan_data(const std::vector<std::uint8_t> &file) {
  const std::size_t sos =
      find_marker(file, [](std::uint8_t code) { return code == 0xDA; });
  return sos + 2 + (std::size_t{file[sos + 2]} << 8 | file[sos + 3]);
}

} // namespace testing_support
