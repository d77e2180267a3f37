// SPDX-License-Identifier: MIT
// The command-line tool's PNG reader on arbitrary bytes. Every input must
// either decode into a consistent image or be refused with
// std::runtime_error; a crash, a leak, any other exception or an allocation
// beyond libFuzzer's limit (as a huge declared size would cause if believed)
// is a finding.
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>

#include "png_image.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  byteblend::tool::Image image;
  try {
    image =
        byteblend::tool::decode_png(std::span<const std::uint8_t>(data, size));
  } catch (const std::runtime_error &) {
    return 0; // refused, as it should be
  }
  const std::size_t pixels =
      static_cast<std::size_t>(image.width) * image.height;
  if (image.rgb.size() != pixels * 3 ||
      (!image.alpha.empty() && image.alpha.size() != pixels)) {
    __builtin_trap(); // an image that does not hold what it says
  }
  return 0;
}
