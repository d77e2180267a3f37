#include "png_image.hpp"

#include <png.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

// libpng reports errors by longjmp to the setjmp of the call that failed.
// Every function below that calls setjmp is a member of a Reader or Writer
// and holds only trivially destructible locals, so a longjmp skips no
// destructor; the buffers it fills are allocated by its caller beforehand,
// and the libpng structures are freed by the Reader's or Writer's destructor
// on every path.

namespace byteblend::tool {
namespace {

struct ErrorSlot {
  char message[256] = {};
};

[[noreturn]] void on_error(png_structp png, png_const_charp message) {
  auto *slot = static_cast<ErrorSlot *>(png_get_error_ptr(png));
  std::snprintf(slot->message, sizeof slot->message, "%s", message);
  png_longjmp(png, 1);
}

void on_warning(png_structp /*png*/, png_const_charp /*message*/) {}

struct Source {
  const std::uint8_t *data;
  std::size_t size;
  std::size_t position = 0;
  bool ran_out = false;
};

void read_bytes(png_structp png, png_bytep out, std::size_t count) {
  auto *source = static_cast<Source *>(png_get_io_ptr(png));
  if (count > source->size - source->position) {
    source->ran_out = true;
    png_error(png, "truncated");
  }
  std::memcpy(out, source->data + source->position, count);
  source->position += count;
}

struct Header {
  std::uint32_t width = 0, height = 0;
  bool alpha = false;
  std::uint64_t bits_per_row = 0; // as stored in the file
};

class Reader {
public:
  explicit Reader(std::span<const std::uint8_t> bytes)
      : source_{bytes.data(), bytes.size()} {
    png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, &errors_, on_error,
                                  on_warning);
    if (png_ != nullptr) {
      info_ = png_create_info_struct(png_);
    }
    if (png_ == nullptr || info_ == nullptr) {
      png_destroy_read_struct(&png_, &info_, nullptr);
      throw std::runtime_error("out of memory");
    }
    png_set_read_fn(png_, &source_, read_bytes);
  }
  Reader(const Reader &) = delete;
  Reader &operator=(const Reader &) = delete;
  ~Reader() { png_destroy_read_struct(&png_, &info_, nullptr); }

  // Reads up to the image data and sets up the conversion to 8-bit RGB or
  // RGBA.
  bool read_header(Header &header) {
    if (setjmp(png_jmpbuf(png_))) {
      return false;
    }
    png_set_user_limits(png_, kMaxSide, kMaxSide);
    png_read_info(png_, info_);
    const png_byte colour = png_get_color_type(png_, info_);
    const png_byte depth = png_get_bit_depth(png_, info_);
    const bool transparency = png_get_valid(png_, info_, PNG_INFO_tRNS) != 0;
    header.width = png_get_image_width(png_, info_);
    header.height = png_get_image_height(png_, info_);
    header.bits_per_row =
        std::uint64_t{header.width} * png_get_channels(png_, info_) * depth;
    header.alpha = (colour & PNG_COLOR_MASK_ALPHA) != 0 || transparency;
    if (colour == PNG_COLOR_TYPE_PALETTE) {
      png_set_palette_to_rgb(png_);
    }
    if (colour == PNG_COLOR_TYPE_GRAY && depth < 8) {
      png_set_expand_gray_1_2_4_to_8(png_);
    }
    if (transparency) {
      png_set_tRNS_to_alpha(png_);
    }
    if (depth == 16) {
      png_set_scale_16(png_);
    }
    if ((colour & PNG_COLOR_MASK_COLOR) == 0) {
      png_set_gray_to_rgb(png_);
    }
    png_set_interlace_handling(png_);
    png_read_update_info(png_, info_);
    return true;
  }

  // Reads every row (each `channels` bytes a pixel) and the rest of the file.
  bool read_rows(png_bytepp rows) {
    if (setjmp(png_jmpbuf(png_))) {
      return false;
    }
    png_read_image(png_, rows);
    png_read_end(png_, nullptr);
    return true;
  }

  std::size_t row_bytes() { return png_get_rowbytes(png_, info_); }

  [[noreturn]] void fail() const {
    if (source_.ran_out) {
      throw std::runtime_error("truncated PNG file");
    }
    throw std::runtime_error(std::string("invalid PNG file: ") +
                             errors_.message);
  }

private:
  ErrorSlot errors_;
  Source source_;
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
};

// Deflate turns at most 1032 bytes of data into one byte, so a file holds at
// most this many bytes of rows; a header that claims more is a lie, found
// out before its rows are allocated.
bool could_hold(std::size_t file_size, const Header &header) {
  // cppcheck takes row_bytes for unread (a false positive: the next line
  // reads it).
  // cppcheck-suppress unreadVariable
  const std::uint64_t row_bytes = (header.bits_per_row + 7) / 8;
  return row_bytes * header.height <= std::uint64_t{1032} * file_size + 1032;
}

struct Sink {
  std::vector<std::uint8_t> *bytes;
};

void write_bytes(png_structp png, png_bytep data, std::size_t count) {
  auto *sink = static_cast<Sink *>(png_get_io_ptr(png));
  bool stored = true;
  try {
    sink->bytes->insert(sink->bytes->end(), data, data + count);
  } catch (...) {
    stored = false;
  }
  if (!stored) {
    png_error(png, "out of memory");
  }
}

void flush_nothing(png_structp /*png*/) {}

class Writer {
public:
  explicit Writer(std::vector<std::uint8_t> &out) : sink_{&out} {
    png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, &errors_, on_error,
                                   on_warning);
    if (png_ != nullptr) {
      info_ = png_create_info_struct(png_);
    }
    if (png_ == nullptr || info_ == nullptr) {
      png_destroy_write_struct(&png_, &info_);
      throw std::runtime_error("out of memory");
    }
    png_set_write_fn(png_, &sink_, write_bytes, flush_nothing);
  }
  Writer(const Writer &) = delete;
  Writer &operator=(const Writer &) = delete;
  ~Writer() { png_destroy_write_struct(&png_, &info_); }

  bool write(std::uint32_t width, std::uint32_t height, bool alpha,
             png_bytepp rows) {
    if (setjmp(png_jmpbuf(png_))) {
      return false;
    }
    png_set_IHDR(png_, info_, width, height, 8,
                 alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png_, info_);
    png_write_image(png_, rows);
    png_write_end(png_, nullptr);
    return true;
  }

  [[noreturn]] void fail() const {
    throw std::runtime_error(std::string("cannot encode PNG: ") +
                             errors_.message);
  }

private:
  ErrorSlot errors_;
  Sink sink_;
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
};

} // namespace

Image decode_png(std::span<const std::uint8_t> file_bytes) {
  if (file_bytes.size() < 8 || png_sig_cmp(file_bytes.data(), 0, 8) != 0) {
    if (!file_bytes.empty() && file_bytes.size() < 8 &&
        png_sig_cmp(file_bytes.data(), 0, file_bytes.size()) == 0) {
      throw std::runtime_error("truncated PNG file");
    }
    throw std::runtime_error("not a PNG file");
  }
  Reader reader(file_bytes);
  Header header;
  if (!reader.read_header(header)) {
    reader.fail();
  }
  const std::uint64_t pixels = std::uint64_t{header.width} * header.height;
  if (pixels > kMaxPixels) {
    throw std::runtime_error("image of " + std::to_string(header.width) + "x" +
                             std::to_string(header.height) +
                             " pixels is larger than the limit of " +
                             std::to_string(kMaxPixels) + " pixels");
  }
  if (!could_hold(file_bytes.size(), header)) {
    throw std::runtime_error(
        "truncated PNG file (" + std::to_string(header.width) + "x" +
        std::to_string(header.height) + " pixels cannot fit in " +
        std::to_string(file_bytes.size()) + " bytes)");
  }
  const std::size_t channels = header.alpha ? 4 : 3;
  const std::size_t row_bytes = reader.row_bytes();
  if (row_bytes != header.width * channels) {
    throw std::runtime_error("unexpected row layout in PNG file");
  }

  Image image;
  image.width = header.width;
  image.height = header.height;
  std::vector<std::uint8_t> rgba;
  std::vector<std::uint8_t> &pixels_out = header.alpha ? rgba : image.rgb;
  pixels_out.resize(row_bytes * header.height);
  std::vector<png_bytep> rows(header.height);
  for (std::size_t y = 0; y < header.height; ++y) {
    rows[y] = pixels_out.data() + y * row_bytes;
  }
  if (!reader.read_rows(rows.data())) {
    reader.fail();
  }
  if (header.alpha) {
    image.rgb.resize(pixels * 3);
    image.alpha.resize(pixels);
    for (std::size_t i = 0; i < pixels; ++i) {
      std::memcpy(&image.rgb[3 * i], &rgba[4 * i], 3);
      image.alpha[i] = rgba[4 * i + 3];
    }
  }
  return image;
}

Image read_png(const std::filesystem::path &path) {
  return decode_png(read_file(path));
}

std::vector<std::uint8_t> encode_png(const Image &image) {
  const std::size_t pixels = std::size_t{image.width} * image.height;
  if (image.width == 0 || image.height == 0 || image.rgb.size() != 3 * pixels ||
      (!image.alpha.empty() && image.alpha.size() != pixels)) {
    throw std::invalid_argument("encode_png: buffers do not match " +
                                std::to_string(image.width) + "x" +
                                std::to_string(image.height) + " pixels");
  }
  const bool alpha = !image.alpha.empty();
  const std::size_t channels = alpha ? 4 : 3;
  std::vector<std::uint8_t> rgba;
  std::uint8_t *data = const_cast<std::uint8_t *>(image.rgb.data());
  if (alpha) {
    rgba.resize(pixels * 4);
    for (std::size_t i = 0; i < pixels; ++i) {
      std::memcpy(&rgba[4 * i], &image.rgb[3 * i], 3);
      rgba[4 * i + 3] = image.alpha[i];
    }
    data = rgba.data();
  }
  std::vector<png_bytep> rows(image.height);
  for (std::size_t y = 0; y < image.height; ++y) {
    rows[y] = data + y * image.width * channels;
  }
  std::vector<std::uint8_t> out;
  Writer writer(out);
  if (!writer.write(image.width, image.height, alpha, rows.data())) {
    writer.fail();
  }
  return out;
}

void write_png(const std::filesystem::path &path, const Image &image) {
  write_file(path, encode_png(image));
}

} // namespace byteblend::tool
