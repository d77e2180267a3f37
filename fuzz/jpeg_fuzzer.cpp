// The command-line tool's JPEG reader on arbitrary bytes. Every input must
// either decode into a consistent image or be refused with
// std::runtime_error; a crash, a leak, any other exception, a hang or an
// allocation beyond libFuzzer's limit (as a huge declared size would cause
// if believed) is a finding. A small image that decodes is also written
// back, at a quality the input picks, and must read back at its size.
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>

#include "jpeg_image.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  byteblend::tool::Image image;
  try {
    image =
        byteblend::tool::decode_jpeg(std::span<const std::uint8_t>(data, size));
  } catch (const std::runtime_error &) {
    return 0; // refused, as it should be
  }
  const std::size_t pixels =
      static_cast<std::size_t>(image.width) * image.height;
  if (pixels == 0 || image.rgb.size() != pixels * 3 || !image.alpha.empty()) {
    __builtin_trap(); // an image that does not hold what it says
  }
  if (pixels <= 4096) {
    const int quality = 1 + data[size - 1] % 100;
    const auto again = byteblend::tool::decode_jpeg(
        byteblend::tool::encode_jpeg(image, quality));
    if (again.width != image.width || again.height != image.height) {
      __builtin_trap(); // what the encoder wrote does not read back
    }
  }
  return 0;
}
