// SPDX-License-Identifier: MIT
// Blending image files: one BOTTOM into one OUT, or many BOTTOMs into a
// folder, each under its own name, on every core.
#ifndef BYTEBLEND_CLI_BLEND_FILES_HPP
#define BYTEBLEND_CLI_BLEND_FILES_HPP

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "byteblend.hpp"
#include "image.hpp"
#include "image_file.hpp"
#include "placement.hpp"

namespace byteblend::tool {

// What to lay onto each BOTTOM, and how to write the result.
struct Blending {
  LayerMode mode = Mode::addition;
  std::string top_path; // for messages
  const TopLayer *top = nullptr;
  std::optional<Offset> at;          // none: TOP must have BOTTOM's size
  int quality = kDefaultJpegQuality; // for JPEG output
  Layering layering;                 // opacity and operator
};

// Reads BOTTOM, blends TOP onto it on `threads` threads (0: one per core)
// as blend_onto() does and writes OUT in `format` (with BOTTOM's alpha, as
// the blend left it, in a PNG). An OUT that is TOP or BOTTOM, under any name
// (by device and inode), is refused. Throws std::runtime_error whose message is
// one line naming the file at fault: "BOTTOM: <reason>" or "OUT: <reason>".
void blend_file(const Blending &blending, const std::string &bottom_path,
                const std::filesystem::path &out_path, Format format,
                unsigned threads);

// Where a folder run writes `bottom_path`: under its own file name in
// `folder` (the last name of a path that ends in a slash).
std::filesystem::path output_path(const std::filesystem::path &folder,
                                  const std::string &bottom_path);

struct FolderOutcome {
  std::size_t written = 0, failed = 0;
};

// Blends onto every BOTTOM, writing each into `folder` (which must exist)
// in the format its name asks for, the files spread over `workers` threads
// (as many as start, at least the calling one). A file whose output would
// be TOP or any BOTTOM of the run is refused. A file that fails is reported as
// one line on stderr and the rest go on; on a terminal a progress bar shows how
// far it got. The last line says how many were written and how many failed.
FolderOutcome blend_into_folder(const Blending &blending,
                                const std::vector<std::string> &bottom_paths,
                                const std::filesystem::path &folder,
                                unsigned workers);

} // namespace byteblend::tool

#endif
