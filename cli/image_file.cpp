#include "image_file.hpp"

#include <algorithm>
#include <cctype>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

#include "file_io.hpp"
#include "jpeg_image.hpp"
#include "png_image.hpp"

namespace byteblend::tool {

std::optional<Format> format_named_by(const std::filesystem::path &path) {
  // The end of the file name, not path::extension(), which takes ".png" for
  // a hidden file without one.
  std::string name = path.filename().string();
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  const auto ends_with = [&name](std::string_view suffix) {
    return name.ends_with(suffix);
  };
  if (ends_with(".png")) {
    return Format::png;
  }
  if (ends_with(".jpg") || ends_with(".jpeg")) {
    return Format::jpeg;
  }
  return std::nullopt;
}

Format output_format(const std::filesystem::path &out, DirectOutput direct) {
  if (const auto format = format_named_by(out)) {
    return *format;
  }
  if (direct == DirectOutput::png && writes_directly(out)) {
    return Format::png;
  }
  throw std::runtime_error(out.string() +
                           ": cannot tell the output format; the name must "
                           "end in .png, .jpg or .jpeg");
}

Image decode_image(ByteSource &source) {
  const std::span<const std::uint8_t> first = source.peek(1);
  if (source.error() != 0) {
    throw std::runtime_error(read_failure(source.error()));
  }
  try {
    if (!first.empty() && first[0] == 0x89) {
      return decode_png(source);
    }
    if (!first.empty() && first[0] == 0xFF) {
      return decode_jpeg(source);
    }
  } catch (const std::bad_alloc &) {
    // The decoders name the image's size where they know it.
    throw std::runtime_error("out of memory");
  }
  throw std::runtime_error("not a PNG or JPEG file");
}

Image decode_image(std::span<const std::uint8_t> file_bytes) {
  MemorySource source(file_bytes);
  return decode_image(source);
}

Image read_image(const std::filesystem::path &path) {
  FileSource source(path);
  return decode_image(source);
}

void write_image(const std::filesystem::path &path, const Image &image,
                 Format format, int quality) {
  if (format == Format::png) {
    write_file(path, encode_png(image));
    return;
  }
  if (image.width > kMaxJpegSide || image.height > kMaxJpegSide) {
    throw std::runtime_error("cannot write " +
                             size_text(image.width, image.height) +
                             " pixels as JPEG, which holds at most " +
                             std::to_string(kMaxJpegSide) + " each way");
  }
  write_file(path, encode_jpeg(image, quality));
}

} // namespace byteblend::tool
