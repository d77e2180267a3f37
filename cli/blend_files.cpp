#include "blend_files.hpp"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <new>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "file_io.hpp"
#include "progress.hpp"

namespace byteblend::tool {

namespace {

std::string plural(std::size_t count, const char *noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

// The inputs of a run by identity, each with a name for messages.
using Inputs = std::map<FileIdentity, std::string>;

void add_input(Inputs &inputs, const std::string &path) {
  if (const auto identity = identity_of(path)) {
    inputs.emplace(*identity, path);
  }
}

// Reads, blends and writes one file, refusing to write over any of
// `inputs`, under whatever name, as cp refuses to copy a file onto itself.
void blend_checked(const Blending &blending, const std::string &bottom_path,
                   const std::filesystem::path &out_path, Format format,
                   unsigned threads, const Inputs &inputs) {
  if (const auto identity = identity_of(out_path)) {
    if (const auto input = inputs.find(*identity); input != inputs.end()) {
      throw std::runtime_error(out_path.string() + ": is the same file as " +
                               input->second +
                               " (an input is never written over)");
    }
  }
  Image bottom;
  try {
    bottom = read_image(bottom_path);
  } catch (const std::runtime_error &error) {
    throw std::runtime_error(bottom_path + ": " + error.what());
  }
  const TopLayer &top = *blending.top;
  if (!blending.at &&
      (top.width() != bottom.width || top.height() != bottom.height)) {
    throw std::runtime_error(
        bottom_path + ": " + size_text(bottom.width, bottom.height) +
        " pixels, but " + blending.top_path + " has " +
        size_text(top.width(), top.height()) +
        "; the images must have the same size (or place TOP with --at)");
  }
  blend_onto(blending.mode, top, bottom, blending.at, blending.layering,
             threads);
  try {
    write_image(out_path, bottom, format, blending.quality);
  } catch (const std::runtime_error &error) {
    throw std::runtime_error(out_path.string() + ": " + error.what());
  }
}

} // namespace

void blend_file(const Blending &blending, const std::string &bottom_path,
                const std::filesystem::path &out_path, Format format,
                unsigned threads) {
  Inputs inputs;
  add_input(inputs, blending.top_path);
  add_input(inputs, bottom_path);
  blend_checked(blending, bottom_path, out_path, format, threads, inputs);
}

std::filesystem::path output_path(const std::filesystem::path &folder,
                                  const std::string &bottom_path) {
  // "photos/b.png" and "photos/b.png/" alike give "b.png".
  std::filesystem::path given(bottom_path);
  if (!given.has_filename() && given.has_relative_path()) {
    given = given.parent_path();
  }
  return folder / given.filename();
}

FolderOutcome blend_into_folder(const Blending &blending,
                                const std::vector<std::string> &bottom_paths,
                                const std::filesystem::path &folder,
                                unsigned workers) {
  Progress progress(stderr, ::isatty(STDERR_FILENO) == 1, bottom_paths.size());
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> failed{0};
  // TOP and every BOTTOM, none of which a file of the run may replace.
  Inputs inputs;
  add_input(inputs, blending.top_path);
  for (const std::string &bottom_path : bottom_paths) {
    add_input(inputs, bottom_path);
  }
  const auto work = [&] {
    for (std::size_t i = next++; i < bottom_paths.size(); i = next++) {
      const std::string &bottom_path = bottom_paths[i];
      const std::filesystem::path out = output_path(folder, bottom_path);
      std::string error;
      try {
        std::error_code ignored;
        if (std::filesystem::is_directory(bottom_path, ignored)) {
          throw std::runtime_error(bottom_path + ": is a folder");
        }
        const Format format = output_format(out, DirectOutput::refused);
        // The files already keep every core busy: one thread each.
        blend_checked(blending, bottom_path, out, format, 1, inputs);
      } catch (const std::runtime_error &failure) {
        error = failure.what();
      } catch (const std::bad_alloc &) {
        error = bottom_path + ": out of memory";
      }
      if (!error.empty()) {
        ++failed;
        progress.report("byteblend: " + error);
      }
      progress.advance();
    }
  };
  const unsigned count = std::max(
      1U,
      std::min<unsigned>(workers, static_cast<unsigned>(std::min<std::size_t>(
                                      bottom_paths.size(), 1024))));
  std::vector<std::thread> threads;
  threads.reserve(count - 1);
  for (unsigned t = 1; t < count; ++t) {
    try {
      threads.emplace_back(work);
    } catch (const std::system_error &) {
      // No more threads (a process limit, no memory for a stack): the ones
      // running, and this one, do all the files.
      break;
    }
  }
  work();
  for (std::thread &thread : threads) {
    thread.join();
  }
  FolderOutcome outcome;
  outcome.failed = failed;
  outcome.written = bottom_paths.size() - outcome.failed;
  progress.finish("byteblend: " + plural(outcome.written, "file") +
                  " written, " + std::to_string(outcome.failed) + " failed");
  return outcome;
}

} // namespace byteblend::tool
