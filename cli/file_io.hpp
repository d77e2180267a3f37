// Whole files in and out for the byteblend tool: read at once, written so
// that no reader ever sees a partial file.
#ifndef BYTEBLEND_CLI_FILE_IO_HPP
#define BYTEBLEND_CLI_FILE_IO_HPP

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace byteblend::tool {

// The whole content of a file. Throws std::runtime_error with the reason
// ("cannot read: No such file or directory"), not including the path.
std::vector<std::uint8_t> read_file(const std::filesystem::path &path);

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
