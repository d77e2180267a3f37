#include "jpeg_image.hpp"

// jpeglib.h needs size_t and FILE declared before it, and jerror.h the
// configuration that jpeglib.h includes (whether arithmetic coding is in).
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

#include <jerror.h>

#include <csetjmp>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

// libjpeg reports errors through error_exit, which must not return: it
// longjmps to the setjmp of the call that failed. Every function below that
// calls setjmp is a member of a Decoder or Encoder and holds only trivially
// destructible locals, so a longjmp skips no destructor; the buffers it
// fills are allocated by its caller beforehand, and the libjpeg structures
// are freed by the destructor on every path.

namespace byteblend::tool {
namespace {

struct ErrorManager {
  jpeg_error_mgr base{}; // first, so that a jpeg_error_mgr * is one of these
  std::jmp_buf jump{};
  char message[JMSG_LENGTH_MAX] = {};
  bool truncated = false;
  bool out_of_memory = false;
};

ErrorManager &errors_of(j_common_ptr info) {
  return *reinterpret_cast<ErrorManager *>(info->err);
}

[[noreturn]] void stop(j_common_ptr info) {
  std::longjmp(errors_of(info).jump, 1);
}

[[noreturn]] void on_error(j_common_ptr info) {
  ErrorManager &errors = errors_of(info);
  errors.out_of_memory = info->err->msg_code == JERR_OUT_OF_MEMORY;
  (*info->err->format_message)(info, errors.message);
  stop(info);
}

// Warnings that mean the decoded pixels would be damaged.
bool damages_pixels(int code) {
  switch (code) {
  case JWRN_JPEG_EOF:
  case JWRN_HIT_MARKER:
  case JWRN_HUFF_BAD_CODE:
  case JWRN_ARITH_BAD_CODE:
  case JWRN_MUST_RESYNC:
  case JWRN_NOT_SEQUENTIAL:
  case JWRN_BOGUS_PROGRESSION:
    return true;
  default:
    return false;
  }
}

// Level -1 is a warning, 0 and up are trace messages.
void on_message(j_common_ptr info, int level) {
  if (level >= 0 || !damages_pixels(info->err->msg_code)) {
    return;
  }
  ErrorManager &errors = errors_of(info);
  errors.truncated = info->err->msg_code == JWRN_JPEG_EOF;
  (*info->err->format_message)(info, errors.message);
  stop(info);
}

void watch_scans(j_common_ptr info) {
  if (info->is_decompressor != 0 &&
      reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > kMaxScans) {
    std::snprintf(errors_of(info).message, JMSG_LENGTH_MAX,
                  "more than %d scans", kMaxScans);
    stop(info);
  }
}

void set_up(ErrorManager &errors) {
  jpeg_std_error(&errors.base);
  errors.base.error_exit = on_error;
  errors.base.emit_message = on_message;
}

struct Header {
  std::uint32_t width = 0, height = 0;
  J_COLOR_SPACE colour = JCS_UNKNOWN;
  int components = 0;
};

class Decoder {
public:
  explicit Decoder(std::span<const std::uint8_t> bytes) : bytes_(bytes) {
    set_up(errors_);
    info_.err = &errors_.base;
    progress_.progress_monitor = watch_scans;
  }
  Decoder(const Decoder &) = delete;
  Decoder &operator=(const Decoder &) = delete;
  ~Decoder() { jpeg_destroy_decompress(&info_); }

  bool read_header(Header &header) {
    if (setjmp(errors_.jump)) {
      return false;
    }
    jpeg_create_decompress(&info_);
    info_.progress = &progress_;
    jpeg_mem_src(&info_, bytes_.data(), bytes_.size());
    jpeg_read_header(&info_, TRUE);
    header.width = info_.image_width;
    header.height = info_.image_height;
    header.colour = info_.jpeg_color_space;
    header.components = info_.num_components;
    return true;
  }

  // Decodes into `rgb`, width * height * 3 bytes.
  bool read_rgb(std::uint8_t *rgb) {
    if (setjmp(errors_.jump)) {
      return false;
    }
    info_.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info_);
    if (info_.output_components != 3 ||
        info_.output_width != info_.image_width ||
        info_.output_height != info_.image_height) {
      std::snprintf(errors_.message, JMSG_LENGTH_MAX,
                    "unexpected output layout");
      return false;
    }
    const std::size_t row_bytes = std::size_t{info_.output_width} * 3;
    while (info_.output_scanline < info_.output_height) {
      JSAMPROW row = rgb + info_.output_scanline * row_bytes;
      jpeg_read_scanlines(&info_, &row, 1);
    }
    jpeg_finish_decompress(&info_);
    return true;
  }

  [[noreturn]] void fail() const {
    if (errors_.truncated) {
      throw std::runtime_error("truncated JPEG file");
    }
    if (errors_.out_of_memory) {
      throw std::bad_alloc();
    }
    throw std::runtime_error(std::string("invalid JPEG file: ") +
                             errors_.message);
  }

private:
  std::span<const std::uint8_t> bytes_;
  ErrorManager errors_;
  jpeg_progress_mgr progress_{};
  jpeg_decompress_struct info_{};
};

// A libjpeg destination that appends to a vector, block by block.
struct VectorDestination {
  jpeg_destination_mgr base{}; // first, as for ErrorManager
  std::vector<std::uint8_t> *out = nullptr;
  JOCTET block[65536] = {};
};

VectorDestination &destination_of(j_compress_ptr info) {
  return *reinterpret_cast<VectorDestination *>(info->dest);
}

void append(j_compress_ptr info, std::size_t count) {
  VectorDestination &destination = destination_of(info);
  bool stored = true;
  try {
    destination.out->insert(destination.out->end(), destination.block,
                            destination.block + count);
  } catch (...) {
    stored = false;
  }
  if (!stored) {
    ERREXIT1(info, JERR_OUT_OF_MEMORY, 0);
  }
  destination.base.next_output_byte = destination.block;
  destination.base.free_in_buffer = sizeof destination.block;
}

void start_destination(j_compress_ptr info) {
  VectorDestination &destination = destination_of(info);
  destination.base.next_output_byte = destination.block;
  destination.base.free_in_buffer = sizeof destination.block;
}

boolean empty_destination(j_compress_ptr info) {
  append(info, sizeof destination_of(info).block);
  return TRUE;
}

void finish_destination(j_compress_ptr info) {
  append(info, sizeof destination_of(info).block -
                   destination_of(info).base.free_in_buffer);
}

class Encoder {
public:
  explicit Encoder(std::vector<std::uint8_t> &out) {
    set_up(errors_);
    info_.err = &errors_.base;
    destination_.out = &out;
    destination_.base.init_destination = start_destination;
    destination_.base.empty_output_buffer = empty_destination;
    destination_.base.term_destination = finish_destination;
  }
  Encoder(const Encoder &) = delete;
  Encoder &operator=(const Encoder &) = delete;
  ~Encoder() { jpeg_destroy_compress(&info_); }

  bool write(const Image &image, int quality) {
    if (setjmp(errors_.jump)) {
      return false;
    }
    jpeg_create_compress(&info_);
    info_.dest = &destination_.base;
    info_.image_width = image.width;
    info_.image_height = image.height;
    info_.input_components = 3;
    info_.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info_);
    jpeg_set_quality(&info_, quality, TRUE);
    if (quality == 100) {
      info_.comp_info[0].h_samp_factor = 1;
      info_.comp_info[0].v_samp_factor = 1;
    }
    jpeg_start_compress(&info_, TRUE);
    const std::size_t row_bytes = std::size_t{image.width} * 3;
    // libjpeg only reads the rows; its interface predates const.
    auto *rgb = const_cast<std::uint8_t *>(image.rgb.data());
    while (info_.next_scanline < info_.image_height) {
      JSAMPROW row = rgb + info_.next_scanline * row_bytes;
      jpeg_write_scanlines(&info_, &row, 1);
    }
    jpeg_finish_compress(&info_);
    return true;
  }

  [[noreturn]] void fail() const {
    if (errors_.out_of_memory) {
      throw std::bad_alloc();
    }
    throw std::runtime_error(std::string("cannot encode JPEG: ") +
                             errors_.message);
  }

private:
  ErrorManager errors_;
  VectorDestination destination_;
  jpeg_compress_struct info_{};
};

std::string size_text(const Header &header) {
  return std::to_string(header.width) + "x" + std::to_string(header.height);
}

void check_limits(const Header &header, std::size_t file_size) {
  switch (header.colour) {
  case JCS_GRAYSCALE:
  case JCS_YCbCr:
  case JCS_RGB:
    break;
  case JCS_CMYK:
  case JCS_YCCK:
    throw std::runtime_error(
        "CMYK JPEG files are not supported; convert it to RGB first");
  default:
    throw std::runtime_error("JPEG file of " +
                             std::to_string(header.components) +
                             " components in an unknown colour space");
  }
  const std::uint64_t pixels = std::uint64_t{header.width} * header.height;
  if (header.width > kMaxSide || header.height > kMaxSide ||
      pixels > kMaxPixels) {
    throw std::runtime_error("image of " + size_text(header) +
                             " pixels is larger than the limit of " +
                             std::to_string(kMaxPixels) + " pixels");
  }
  if (pixels > kMaxPixelsPerByte * file_size) {
    throw std::runtime_error("truncated JPEG file (" + size_text(header) +
                             " pixels cannot fit in " +
                             std::to_string(file_size) + " bytes)");
  }
}

} // namespace

bool looks_like_jpeg(std::span<const std::uint8_t> file_bytes) {
  return file_bytes.size() >= 3 && file_bytes[0] == 0xFF &&
         file_bytes[1] == 0xD8 && file_bytes[2] == 0xFF;
}

Image decode_jpeg(std::span<const std::uint8_t> file_bytes) {
  if (!looks_like_jpeg(file_bytes)) {
    constexpr std::uint8_t start[] = {0xFF, 0xD8, 0xFF};
    if (!file_bytes.empty() && file_bytes.size() < 3 &&
        std::memcmp(file_bytes.data(), start, file_bytes.size()) == 0) {
      throw std::runtime_error("truncated JPEG file");
    }
    throw std::runtime_error("not a JPEG file");
  }
  Decoder decoder(file_bytes);
  Header header;
  if (!decoder.read_header(header)) {
    decoder.fail();
  }
  check_limits(header, file_bytes.size());
  Image image;
  image.width = header.width;
  image.height = header.height;
  image.rgb.resize(std::size_t{header.width} * header.height * 3);
  if (!decoder.read_rgb(image.rgb.data())) {
    decoder.fail();
  }
  return image;
}

std::vector<std::uint8_t> encode_jpeg(const Image &image, int quality) {
  const std::size_t pixels = std::size_t{image.width} * image.height;
  if (image.width == 0 || image.height == 0 || image.width > 65500 ||
      image.height > 65500 || image.rgb.size() != 3 * pixels) {
    throw std::invalid_argument("encode_jpeg: buffers do not match " +
                                std::to_string(image.width) + "x" +
                                std::to_string(image.height) +
                                " pixels, or JPEG cannot hold so many");
  }
  if (quality < 1 || quality > 100) {
    throw std::invalid_argument("encode_jpeg: quality " +
                                std::to_string(quality) +
                                " is not between 1 and 100");
  }
  std::vector<std::uint8_t> out;
  Encoder encoder(out);
  if (!encoder.write(image, quality)) {
    encoder.fail();
  }
  return out;
}

} // namespace byteblend::tool
