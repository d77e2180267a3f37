// SPDX-License-Identifier: MIT
// Image files of either format: read by their content, written in the
// format their name asks for.
#ifndef BYTEBLEND_CLI_IMAGE_FILE_HPP
#define BYTEBLEND_CLI_IMAGE_FILE_HPP

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

#include "byte_source.hpp"
#include "image.hpp"

namespace byteblend::tool {

enum class Format { png, jpeg };

// The format that a file name's extension asks for: .png, or .jpg or .jpeg,
// in any case; none for any other name.
std::optional<Format> format_named_by(const std::filesystem::path &path);

// What an output whose name asks for no format gets when it is written
// directly (standard output, a device or a pipe: see writes_directly), which
// has no name of its own: PNG on the command line, a refusal in a folder
// run, whose files are named after their inputs.
enum class DirectOutput { png, refused };

// The format an output is written in: the one its name asks for, else as
// `direct` says. Throws std::runtime_error ("OUT: cannot tell the output
// format; the name must end in .png, .jpg or .jpeg") otherwise.
Format output_format(const std::filesystem::path &out, DirectOutput direct);

// The JPEG quality of an output when none is asked for.
inline constexpr int kDefaultJpegQuality = 90;

// Decodes a PNG or JPEG file, told apart by their first bytes, reading it
// from `source` only as far as it needs: anything else is refused after its
// first byte. Throws std::runtime_error with the reason ("not a PNG or JPEG
// file", "out of memory reading a WxH image", ...), never std::bad_alloc.
Image decode_image(ByteSource &source);

// decode_image of a whole file held in memory.
Image decode_image(std::span<const std::uint8_t> file_bytes);

// decode_image of a file (a device or pipe too). Throws std::runtime_error
// with the reason, not including the path.
Image read_image(const std::filesystem::path &path);

// Writes `image` to `path` in `format` (JPEG at `quality`, 1 to 100, and
// without alpha), the way write_file does. Throws std::runtime_error with
// the reason, not including the path.
void write_image(const std::filesystem::path &path, const Image &image,
                 Format format, int quality);

} // namespace byteblend::tool

#endif
