#include "jpeg_image.hpp"

// jpeglib.h needs size_t and FILE declared before it, and jerror.h the
// configuration that jpeglib.h includes (whether arithmetic coding is in).
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

#include <jerror.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

#include "file_io.hpp"

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
  bool too_many_scans = false;
};

ErrorManager &errors_of(j_common_ptr info) {
  return *reinterpret_cast<ErrorManager *>(info->err);
}

[[noreturn]] void stop(j_common_ptr info) {
  std::longjmp(errors_of(info).jump, 1);
}

[[noreturn]] void on_error(j_common_ptr info) {
  ErrorManager &errors = errors_of(info);
  // Backing store is what libjpeg asks for beyond max_memory_to_use.
  errors.out_of_memory = info->err->msg_code == JERR_OUT_OF_MEMORY ||
                         info->err->msg_code == JERR_NO_BACKING_STORE;
  (*info->err->format_message)(info, errors.message);
  stop(info);
}

// Level -1 is a warning, 0 and up are trace messages. libjpeg warns of what
// it finds wrong in the data (a bad code, a marker where data belongs, bytes
// where a marker belongs, the end of the file) and then carries on, showing
// damage: every warning ends the decoding instead.
void on_message(j_common_ptr info, int level) {
  if (level >= 0) {
    return;
  }
  ErrorManager &errors = errors_of(info);
  // The file ends, or its data does at the end marker, before the image.
  // (Data that ends at any other marker cannot be told from damage.)
  const int code = info->err->msg_code;
  errors.truncated =
      code == JWRN_JPEG_EOF ||
      ((code == JWRN_HIT_MARKER || code == JWRN_MUST_RESYNC) &&
       info->is_decompressor != 0 &&
       reinterpret_cast<j_decompress_ptr>(info)->unread_marker == JPEG_EOI);
  (*info->err->format_message)(info, errors.message);
  constexpr char prefix[] = "Warning: ";
  if (std::strncmp(errors.message, prefix, sizeof prefix - 1) == 0) {
    std::memmove(errors.message, errors.message + sizeof prefix - 1,
                 std::strlen(errors.message) - (sizeof prefix - 1) + 1);
  }
  stop(info);
}

// Called as the decoder reaches each row of each scan.
void watch_scans(j_common_ptr info) {
  if (info->is_decompressor != 0 &&
      reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > kMaxScans) {
    errors_of(info).too_many_scans = true;
    stop(info);
  }
}

void set_up(ErrorManager &errors) {
  jpeg_std_error(&errors.base);
  errors.base.error_exit = on_error;
  errors.base.emit_message = on_message;
}

// A libjpeg source that pulls a ByteSource's bytes, block by block.
struct PullingSource {
  jpeg_source_mgr base{}; // first, as for ErrorManager
  ByteSource *bytes = nullptr;
  JOCTET block[65536] = {};
};

PullingSource &source_of(j_decompress_ptr info) {
  return *reinterpret_cast<PullingSource *>(info->src);
}

void start_source(j_decompress_ptr /*info*/) {}

boolean fill_source(j_decompress_ptr info) {
  PullingSource &source = source_of(info);
  const std::size_t got = source.bytes->read(source.block);
  if (got == 0) {
    if (source.bytes->error() != 0) {
      ERREXIT(info, JERR_FILE_READ);
    }
    // Ends the decoding through on_message.
    WARNMS(info, JWRN_JPEG_EOF);
  }
  source.base.next_input_byte = source.block;
  source.base.bytes_in_buffer = got;
  return TRUE;
}

void skip_source(j_decompress_ptr info, long count) {
  PullingSource &source = source_of(info);
  while (count > 0) {
    if (source.base.bytes_in_buffer == 0) {
      fill_source(info);
    }
    const std::size_t skipped =
        std::min(static_cast<std::size_t>(count), source.base.bytes_in_buffer);
    source.base.next_input_byte += skipped;
    source.base.bytes_in_buffer -= skipped;
    count -= static_cast<long>(skipped);
  }
}

void end_source(j_decompress_ptr /*info*/) {}

struct Header {
  std::uint32_t width = 0, height = 0;
  J_COLOR_SPACE colour = JCS_UNKNOWN;
  int components = 0;
};

// libjpeg's own memory, at most: the coefficients that a progressive file
// keeps of the largest image the limits allow (two bytes for each of three
// samples a pixel, over the image padded to whole blocks of up to 32
// pixels), and room for its row buffers and tables. More means a bigger
// image than the limits allow, or a fault.
constexpr std::uint64_t kMaxJpegMemory =
    std::uint64_t{6} * (kMaxPixels + std::uint64_t{64} * kMaxSide) +
    (std::uint64_t{1} << 30);

class Decoder {
public:
  explicit Decoder(ByteSource &bytes) {
    set_up(errors_);
    info_.err = &errors_.base;
    progress_.progress_monitor = watch_scans;
    source_.bytes = &bytes;
    source_.base.init_source = start_source;
    source_.base.fill_input_buffer = fill_source;
    source_.base.skip_input_data = skip_source;
    source_.base.resync_to_restart = jpeg_resync_to_restart;
    source_.base.term_source = end_source;
  }
  Decoder(const Decoder &) = delete;
  Decoder &operator=(const Decoder &) = delete;
  ~Decoder() { jpeg_destroy_decompress(&info_); }

  bool read_header(Header &header) {
    if (setjmp(errors_.jump)) {
      return false;
    }
    jpeg_create_decompress(&info_);
    info_.mem->max_memory_to_use = static_cast<long>(kMaxJpegMemory);
    info_.progress = &progress_;
    info_.src = &source_.base;
    jpeg_read_header(&info_, TRUE);
    header.width = info_.image_width;
    header.height = info_.image_height;
    header.colour = info_.jpeg_color_space;
    header.components = info_.num_components;
    return true;
  }

  // Sets up decoding to RGB; a progressive file is read to its end here.
  bool start() {
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
    return true;
  }

  // Decodes the next `count` rows, width * 3 bytes each.
  bool read_rows(JSAMPARRAY rows, JDIMENSION count) {
    if (setjmp(errors_.jump)) {
      return false;
    }
    for (JDIMENSION done = 0; done < count;) {
      done += jpeg_read_scanlines(&info_, rows + done, count - done);
    }
    return true;
  }

  // Reads the rest of the file, to its end marker.
  bool finish() {
    if (setjmp(errors_.jump)) {
      return false;
    }
    jpeg_finish_decompress(&info_);
    return true;
  }

  [[noreturn]] void fail() const {
    if (errors_.out_of_memory) {
      throw std::bad_alloc();
    }
    if (source_.bytes->error() != 0) {
      throw std::runtime_error(read_failure(source_.bytes->error()));
    }
    if (errors_.truncated) {
      throw std::runtime_error("truncated JPEG file");
    }
    if (errors_.too_many_scans) {
      throw std::runtime_error("JPEG file of more than " +
                               std::to_string(kMaxScans) + " scans, the limit");
    }
    throw std::runtime_error(std::string("invalid JPEG file: ") +
                             errors_.message);
  }

private:
  ErrorManager errors_;
  jpeg_progress_mgr progress_{};
  PullingSource source_;
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

void check_colour(const Header &header) {
  switch (header.colour) {
  case JCS_GRAYSCALE:
  case JCS_YCbCr:
  case JCS_RGB:
    return;
  case JCS_CMYK:
  case JCS_YCCK:
    throw std::runtime_error(
        "CMYK JPEG files are not supported; convert it to RGB first");
  default:
    throw std::runtime_error("JPEG file of " +
                             std::to_string(header.components) +
                             " components in an unknown colour space");
  }
}

// Decodes into `rgb`, which grows with the rows as they are decoded rather
// than all at once: a header that claims more rows than the data holds
// costs only the rows decoded before the data runs out.
void read_pixels(Decoder &decoder, const Header &header,
                 std::vector<std::uint8_t> &rgb) {
  const std::size_t row_bytes = std::size_t{header.width} * 3;
  // Address space, not yet memory; where even that is short, the rows grow
  // as they come instead.
  try {
    rgb.reserve(row_bytes * header.height);
  } catch (const std::bad_alloc &) {
  }
  // Rows in blocks of about a megabyte.
  const auto block = static_cast<JDIMENSION>(std::clamp<std::size_t>(
      (std::size_t{1} << 20) / row_bytes, 1, header.height));
  std::vector<JSAMPROW> rows(block);
  for (JDIMENSION y = 0; y < header.height; y += block) {
    const JDIMENSION count = std::min(block, header.height - y);
    const std::size_t first = y;
    const std::size_t end = first + count;
    rgb.resize(end * row_bytes);
    for (std::size_t row = first; row < end; ++row) {
      rows[row - first] = rgb.data() + row * row_bytes;
    }
    if (!decoder.read_rows(rows.data(), count)) {
      decoder.fail();
    }
  }
}

// Whether the bytes start as a JPEG file does (the SOI marker, then a
// marker).
bool looks_like_jpeg(std::span<const std::uint8_t> file_bytes) {
  return file_bytes.size() >= 3 && file_bytes[0] == 0xFF &&
         file_bytes[1] == 0xD8 && file_bytes[2] == 0xFF;
}

} // namespace

Image decode_jpeg(ByteSource &source) {
  const std::span<const std::uint8_t> start = source.peek(3);
  if (!looks_like_jpeg(start)) {
    if (source.error() != 0) {
      throw std::runtime_error(read_failure(source.error()));
    }
    constexpr std::uint8_t marker[] = {0xFF, 0xD8, 0xFF};
    if (!start.empty() && start.size() < 3 &&
        std::memcmp(start.data(), marker, start.size()) == 0) {
      throw std::runtime_error("truncated JPEG file");
    }
    throw std::runtime_error("not a JPEG file");
  }
  Decoder decoder(source);
  Header header;
  if (!decoder.read_header(header)) {
    decoder.fail();
  }
  check_colour(header);
  check_size_limits(header.width, header.height);
  Image image;
  image.width = header.width;
  image.height = header.height;
  try {
    if (!decoder.start()) {
      decoder.fail();
    }
    read_pixels(decoder, header, image.rgb);
    if (!decoder.finish()) {
      decoder.fail();
    }
  } catch (const std::bad_alloc &) {
    throw std::runtime_error("out of memory reading a " +
                             size_text(header.width, header.height) + " image");
  }
  return image;
}

Image decode_jpeg(std::span<const std::uint8_t> file_bytes) {
  MemorySource source(file_bytes);
  return decode_jpeg(source);
}

std::vector<std::uint8_t> encode_jpeg(const Image &image, int quality) {
  const std::size_t pixels = std::size_t{image.width} * image.height;
  if (image.width == 0 || image.height == 0 || image.width > kMaxJpegSide ||
      image.height > kMaxJpegSide || image.rgb.size() != 3 * pixels) {
    throw std::invalid_argument("encode_jpeg: buffers do not match " +
                                size_text(image.width, image.height) +
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
