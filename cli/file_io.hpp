// SPDX-License-Identifier: MIT
// Files in and out for the byteblend tool: read as the decoders pull their
// bytes, written so that no reader ever sees a partial file.
#ifndef BYTEBLEND_CLI_FILE_IO_HPP
#define BYTEBLEND_CLI_FILE_IO_HPP

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <vector>

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
// A symbolic link is written through: its final target (following a chain
// of links, each relative one from its own folder) is replaced, or created
// if missing, and the link stays. A replaced file keeps its mode, and its
// owner and group where the writer may set them. An output that is not a
// regular file (see writes_directly) is written directly.
// Throws std::runtime_error with the reason, not including the path.
void write_file(const std::filesystem::path &path,
                std::span<const std::uint8_t> bytes);

// Whether write_file writes `path` directly, into a file that is already
// open rather than one it replaces: standard output named "-", an open
// descriptor named /dev/stdout, /dev/stderr, /dev/fd/N or /proc/self/fd/N,
// or anything existing that is neither a regular file nor a folder (a
// device, a pipe, a terminal).
bool writes_directly(const std::filesystem::path &path);

// Creates `folder` and its missing parents, through symbolic links as
// write_file writes: a link to a missing folder (the final target of its
// chain of links) makes that folder. Sets `error` on failure, a link that
// cannot be read and a chain that is a loop included.
void create_folder(const std::filesystem::path &folder, std::error_code &error);

// A file's identity, the same under any of its names: device and inode.
struct FileIdentity {
  std::uint64_t device = 0, inode = 0;
  bool operator<(const FileIdentity &other) const {
    return device != other.device ? device < other.device : inode < other.inode;
  }
};

// The identity of the file that `path` names (following links; "-" is
// standard output); none when there is no such file.
std::optional<FileIdentity> identity_of(const std::filesystem::path &path);

} // namespace byteblend::tool

#endif
