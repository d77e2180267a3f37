#include "image.hpp"

#include <stdexcept>

namespace byteblend::tool {

void check_size_limits(std::uint32_t width, std::uint32_t height) {
  if (width > kMaxSide || height > kMaxSide) {
    throw std::runtime_error("image of " + size_text(width, height) +
                             " pixels is larger than the limit of " +
                             std::to_string(kMaxSide) + " pixels each way");
  }
  if (std::uint64_t{width} * height > kMaxPixels) {
    throw std::runtime_error("image of " + size_text(width, height) +
                             " pixels is larger than the limit of " +
                             std::to_string(kMaxPixels) + " pixels");
  }
}

std::string size_text(std::uint32_t width, std::uint32_t height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

} // namespace byteblend::tool
