// Files in and out for the byteblend tool: read as the decoders pull their
// bytes, written so that no reader ever sees a partial file.
#ifndef BYTEBLEND_CLI_FILE_IO_HPP
#define BYTEBLEND_CLI_FILE_IO_HPP

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "byte_source.hpp"

namespace byteblend::tool {

// A file opened for reading, read from the start as the decoder pulls it
// (a device or pipe too). Throws std::runtime_error with the reason
// ("cannot read: No such file or directory"), not including the path.
class FileSource final : public ByteSource {
public:
  explicit FileSource(const std::filesystem::path &path);
  FileSource(const FileSource &) = delete;
  FileSource &operator=(const FileSource &) = delete;
  ~FileSource() override;
  // A regular file's size when opened; none for a device or pipe.
  [[nodiscard]] std::optional<std::uint64_t> size() const noexcept override {
    return size_;
  }

private:
  std::size_t pull(std::span<std::uint8_t> into) noexcept override;
  int fd_;
  std::optional<std::uint64_t> size_;
};

// The message for a read that failed with `error` (an errno):
// "cannot read: Input/output error".
std::string read_failure(int error);

// Writes bytes to `path` so that it never holds a partial file: into a
// temporary file in the same folder, renamed over `path` only once it is
// complete; on failure the temporary file is removed and `path` is untouched.
// A `path` that exists and is not a regular file (a device such as /dev/null
// or /dev/full, a pipe) is written directly, since it cannot be replaced.
// Throws std::runtime_error with the reason, not including the path.
void write_file(const std::filesystem::path &path,
                std::span<const std::uint8_t> bytes);

} // namespace byteblend::tool

#endif
