#include "byte_source.hpp"

#include <algorithm>
#include <cstring>

namespace byteblend::tool {

std::span<const std::uint8_t> ByteSource::peek(std::size_t count) noexcept {
  count = std::min(count, kPeekBytes);
  if (peeked_end_ - peeked_start_ < count) {
    // Move what is left to the front, then top it up.
    std::memmove(peeked_.data(), peeked_.data() + peeked_start_,
                 peeked_end_ - peeked_start_);
    peeked_end_ -= peeked_start_;
    peeked_start_ = 0;
    while (peeked_end_ < count) {
      const std::size_t got =
          pull(std::span(peeked_).subspan(peeked_end_, count - peeked_end_));
      if (got == 0) {
        break;
      }
      peeked_end_ += got;
    }
  }
  return std::span<const std::uint8_t>(peeked_).subspan(
      peeked_start_, std::min(count, peeked_end_ - peeked_start_));
}

std::size_t ByteSource::read(std::span<std::uint8_t> into) noexcept {
  std::size_t done = std::min(into.size(), peeked_end_ - peeked_start_);
  if (done != 0) {
    std::memcpy(into.data(), peeked_.data() + peeked_start_, done);
    peeked_start_ += done;
  }
  while (done < into.size()) {
    const std::size_t got = pull(into.subspan(done));
    if (got == 0) {
      break;
    }
    done += got;
  }
  return done;
}

std::size_t MemorySource::pull(std::span<std::uint8_t> into) noexcept {
  const std::size_t count = std::min(into.size(), bytes_.size());
  if (count != 0) {
    std::memcpy(into.data(), bytes_.data(), count);
    bytes_ = bytes_.subspan(count);
  }
  return count;
}

} // namespace byteblend::tool
