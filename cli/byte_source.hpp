// SPDX-License-Identifier: MIT
// Bytes pulled in order by the PNG and JPEG decoders, from a file or from
// memory. A decoder reads only as far as it gets, so a file that is not an
// image, or whose header lies, costs what was read of it rather than its
// whole size.
#ifndef BYTEBLEND_CLI_BYTE_SOURCE_HPP
#define BYTEBLEND_CLI_BYTE_SOURCE_HPP

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace byteblend::tool {

class ByteSource {
public:
  ByteSource() = default;
  ByteSource(const ByteSource &) = delete;
  ByteSource &operator=(const ByteSource &) = delete;
  virtual ~ByteSource() = default;

  // Up to `count` (at most kPeekBytes) of the next bytes, which the next
  // read returns again; fewer only at the end or on a failure.
  static constexpr std::size_t kPeekBytes = 8;
  std::span<const std::uint8_t> peek(std::size_t count) noexcept;

  // Fills `into` with the next bytes; fewer only at the end or on a
  // failure, then error() tells which. Never throws: the decoders call it
  // from libpng's and libjpeg's callbacks.
  std::size_t read(std::span<std::uint8_t> into) noexcept;

  // The errno of a read that failed, or 0.
  [[nodiscard]] int error() const noexcept { return error_; }

  // The size of the whole, where it is known beforehand (a regular file,
  // bytes in memory).
  [[nodiscard]] virtual std::optional<std::uint64_t> size() const noexcept = 0;

protected:
  // Reads up to into.size() bytes from where the last call ended: the
  // count, 0 at the end; on a failure sets error_ and returns 0.
  virtual std::size_t pull(std::span<std::uint8_t> into) noexcept = 0;
  int error_ = 0;

private:
  std::array<std::uint8_t, kPeekBytes> peeked_{};
  std::size_t peeked_start_ = 0, peeked_end_ = 0;
};

// Bytes held in memory.
class MemorySource final : public ByteSource {
public:
  explicit MemorySource(std::span<const std::uint8_t> bytes) noexcept
      : bytes_(bytes) {}
  [[nodiscard]] std::optional<std::uint64_t> size() const noexcept override {
    return bytes_.size();
  }

private:
  std::size_t pull(std::span<std::uint8_t> into) noexcept override;
  std::span<const std::uint8_t> bytes_;
};

} // namespace byteblend::tool

#endif
