#include "png_image.hpp"

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

#include "file_io.hpp"

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
  ByteSource *bytes;
  bool ran_out = false;
};

void read_bytes(png_structp png, png_bytep out, std::size_t count) {
  auto *source = static_cast<Source *>(png_get_io_ptr(png));
  if (source->bytes->read({out, count}) != count) {
    source->ran_out = true;
    png_error(png, "truncated");
  }
}

struct Header {
  std::uint32_t width = 0, height = 0;
  bool alpha = false;
  std::uint64_t bits_per_row = 0; // as stored in the file
  int passes = 1;                 // 7 when interlaced
};

class Reader {
public:
  explicit Reader(ByteSource &bytes) : source_{&bytes} {
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

  // Reads up to the image data and asks for the conversion to 8-bit RGB or
  // RGBA.
  bool read_header(Header &header) {
    if (setjmp(png_jmpbuf(png_))) {
      return false;
    }
    // The size limits are checked afterwards, to say so; libpng's own
    // defaults (a million pixels each way) would refuse as invalid images
    // that the limits allow.
    png_set_user_limits(png_, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
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
    header.passes = png_set_interlace_handling(png_);
    return true;
  }

  // Sets up the conversion, and libpng's buffers of a row or two, as wide as
  // the header says: only once the size is known to be within the limits.
  bool start_rows() {
    if (setjmp(png_jmpbuf(png_))) {
      return false;
    }
    png_read_update_info(png_, info_);
    return true;
  }

  // Reads the next `count` rows of the current pass (each `channels` bytes
  // a pixel); an interlaced image passes over every row seven times, each
  // time filling in the pixels of that pass.
  bool read_rows(png_bytepp rows, std::uint32_t count) {
    if (setjmp(png_jmpbuf(png_))) {
      return false;
    }
    png_read_rows(png_, rows, nullptr, count);
    return true;
  }

  // Reads the rest of the file, to its end chunk.
  bool read_end() {
    if (setjmp(png_jmpbuf(png_))) {
      return false;
    }
    png_read_end(png_, nullptr);
    return true;
  }

  std::size_t row_bytes() { return png_get_rowbytes(png_, info_); }

  [[noreturn]] void fail() const {
    if (source_.bytes->error() != 0) {
      throw std::runtime_error(read_failure(source_.bytes->error()));
    }
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
bool could_hold(std::uint64_t file_size, const Header &header) {
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

// Decodes the rows into `out`, which grows with the rows as they are
// decoded rather than all at once: a header that claims more rows than the
// data holds costs only the rows the data fills (an interlaced image's first
// pass touches one row in eight).
void read_pixels(Reader &reader, const Header &header, std::size_t row_bytes,
                 std::vector<std::uint8_t> &out) {
  // Address space, not yet memory; where even that is short, the rows grow
  // as they come instead.
  try {
    out.reserve(row_bytes * header.height);
  } catch (const std::bad_alloc &) {
  }
  // Rows in blocks of about a megabyte.
  const std::uint32_t block =
      static_cast<std::uint32_t>(std::clamp<std::size_t>(
          (std::size_t{1} << 20) / row_bytes, 1, header.height));
  std::vector<png_bytep> rows(block);
  for (int pass = 0; pass < header.passes; ++pass) {
    for (std::uint32_t y = 0; y < header.height; y += block) {
      const std::uint32_t count = std::min(block, header.height - y);
      const std::size_t first = y;
      const std::size_t end = first + count;
      if (out.size() < end * row_bytes) {
        out.resize(end * row_bytes);
      }
      for (std::size_t row = first; row < end; ++row) {
        rows[row - first] = out.data() + row * row_bytes;
      }
      if (!reader.read_rows(rows.data(), count)) {
        reader.fail();
      }
    }
  }
}

} // namespace

Image decode_png(ByteSource &source) {
  const std::span<const std::uint8_t> signature = source.peek(8);
  if (signature.size() < 8 || png_sig_cmp(signature.data(), 0, 8) != 0) {
    if (source.error() != 0) {
      throw std::runtime_error(read_failure(source.error()));
    }
    if (!signature.empty() && signature.size() < 8 &&
        png_sig_cmp(signature.data(), 0, signature.size()) == 0) {
      throw std::runtime_error("truncated PNG file");
    }
    throw std::runtime_error("not a PNG file");
  }
  Reader reader(source);
  Header header;
  if (!reader.read_header(header)) {
    reader.fail();
  }
  check_size_limits(header.width, header.height);
  if (const std::optional<std::uint64_t> size = source.size();
      size && !could_hold(*size, header)) {
    throw std::runtime_error(
        "truncated PNG file (" + size_text(header.width, header.height) +
        " pixels cannot fit in " + std::to_string(*size) + " bytes)");
  }
  if (!reader.start_rows()) {
    reader.fail();
  }
  const std::size_t channels = header.alpha ? 4 : 3;
  const std::size_t row_bytes = reader.row_bytes();
  if (row_bytes != header.width * channels) {
    throw std::runtime_error("unexpected row layout in PNG file");
  }

  const std::size_t pixels = std::size_t{header.width} * header.height;
  Image image;
  image.width = header.width;
  image.height = header.height;
  try {
    std::vector<std::uint8_t> rgba;
    read_pixels(reader, header, row_bytes, header.alpha ? rgba : image.rgb);
    if (header.alpha) {
      image.rgb.resize(pixels * 3);
      image.alpha.resize(pixels);
      for (std::size_t i = 0; i < pixels; ++i) {
        std::memcpy(&image.rgb[3 * i], &rgba[4 * i], 3);
        image.alpha[i] = rgba[4 * i + 3];
      }
    }
  } catch (const std::bad_alloc &) {
    throw std::runtime_error("out of memory reading a " +
                             size_text(header.width, header.height) + " image");
  }
  if (!reader.read_end()) {
    reader.fail();
  }
  return image;
}

Image decode_png(std::span<const std::uint8_t> file_bytes) {
  MemorySource source(file_bytes);
  return decode_png(source);
}

std::vector<std::uint8_t> encode_png(const Image &image) {
  const std::size_t pixels = std::size_t{image.width} * image.height;
  if (image.width == 0 || image.height == 0 || image.rgb.size() != 3 * pixels ||
      (!image.alpha.empty() && image.alpha.size() != pixels)) {
    throw std::invalid_argument("encode_png: buffers do not match " +
                                size_text(image.width, image.height) +
                                " pixels");
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

} // namespace byteblend::tool
