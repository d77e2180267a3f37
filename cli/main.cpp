// The byteblend tool: blends two PNG images in one of the thirteen modes, or
// writes a gallery of all of them. Errors are one line on stderr naming the
// file and the reason; exit status 2 for a wrong command line, 1 for any
// other failure.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "byteblend.hpp"
#include "demo.hpp"
#include "png_image.hpp"

namespace {

namespace tool = byteblend::tool;

constexpr int kUsageError = 2;
constexpr int kFailure = 1;

constexpr std::string_view kHelp =
    "Usage:\n"
    "  byteblend MODE TOP.png BOTTOM.png OUT.png\n"
    "  byteblend demo [FOLDER]\n"
    "  byteblend --list | --help | --version\n"
    "\n"
    "Blends TOP onto BOTTOM, byte by byte, in MODE (see --list; case does not\n"
    "matter) and writes OUT. Both images must have the same width and height;\n"
    "any PNG is read as 8-bit RGB. When BOTTOM has alpha (or transparency),\n"
    "OUT is RGBA with BOTTOM's alpha, the mode applied to red, green and "
    "blue.\n"
    "The channel modes take the other two channels from BOTTOM. OUT is\n"
    "replaced only once it is complete.\n"
    "\n"
    "demo writes two generated images, one image per mode and index.html to\n"
    "FOLDER (default demo/) and prints where the page is.\n"
    "\n"
    "Exit status: 0 done, 1 failed (unreadable input, write error, ...),\n"
    "2 wrong command line.\n";

std::string mode_list() {
  std::string list;
  for (const byteblend::Mode mode : byteblend::all_modes) {
    list += list.empty() ? "" : ", ";
    list += byteblend::name(mode);
  }
  return list;
}

// A failure, reported as one line: "byteblend: <what>".
struct Failure {
  int status;
  std::string message;
};

tool::Image read_input(const std::string &path) {
  try {
    return tool::read_png(path);
  } catch (const std::runtime_error &error) {
    throw Failure{kFailure, path + ": " + error.what()};
  }
}

std::string size_of(const tool::Image &image) {
  return std::to_string(image.width) + "x" + std::to_string(image.height);
}

int blend_files(const std::vector<std::string> &args) {
  const std::optional<byteblend::Mode> mode = byteblend::parse_mode(args[0]);
  if (!mode) {
    throw Failure{kUsageError, "unknown mode '" + args[0] +
                                   "'; the modes are " + mode_list()};
  }
  const tool::Image top = read_input(args[1]);
  tool::Image bottom = read_input(args[2]);
  if (top.width != bottom.width || top.height != bottom.height) {
    throw Failure{kFailure, args[2] + ": " + size_of(bottom) + " pixels, but " +
                                args[1] + " has " + size_of(top) +
                                "; the images must have the same size"};
  }
  byteblend::blend(*mode, top.rgb, bottom.rgb, bottom.rgb, {.threads = 0});
  try {
    tool::write_png(args[3], bottom);
  } catch (const std::runtime_error &error) {
    throw Failure{kFailure, args[3] + ": " + error.what()};
  }
  return 0;
}

int run(const std::vector<std::string> &args) {
  if (args.empty()) {
    throw Failure{kUsageError, "no arguments; try 'byteblend --help'"};
  }
  const std::string &first = args[0];
  const auto only = [&](std::string_view what) {
    if (args.size() != 1) {
      throw Failure{kUsageError, std::string(what) + " takes no arguments"};
    }
  };
  if (first == "--help" || first == "-h") {
    only(first);
    std::cout << kHelp;
    return 0;
  }
  if (first == "--version") {
    only(first);
    std::cout << "byteblend " BYTEBLEND_VERSION "\n";
    return 0;
  }
  if (first == "--list") {
    only(first);
    for (const byteblend::Mode mode : byteblend::all_modes) {
      std::cout << byteblend::name(mode) << '\n';
    }
    return 0;
  }
  if (first == "demo") {
    if (args.size() > 2) {
      throw Failure{kUsageError, "demo takes at most one folder"};
    }
    const std::filesystem::path folder = args.size() == 2 ? args[1] : "demo";
    std::filesystem::path index;
    try {
      index = tool::write_demo(folder);
    } catch (const std::runtime_error &error) {
      throw Failure{kFailure, error.what()};
    }
    const std::filesystem::path absolute =
        std::filesystem::absolute(index).lexically_normal();
    std::cout << "Wrote the top and bottom images, "
              << byteblend::all_modes.size() << " blends and the gallery to "
              << folder.string() << "\n"
              << "Open file://" << absolute.string() << " in a browser.\n";
    return 0;
  }
  if (first.size() > 1 && first[0] == '-') {
    throw Failure{kUsageError,
                  "unknown option '" + first + "'; try 'byteblend --help'"};
  }
  if (args.size() != 4) {
    throw Failure{kUsageError,
                  "expected MODE TOP.png BOTTOM.png OUT.png, got " +
                      std::to_string(args.size()) +
                      " arguments; try 'byteblend --help'"};
  }
  return blend_files(args);
}

} // namespace

int main(int argc, char **argv) {
  try {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const int status = run(args);
    std::cout.flush();
    if (!std::cout) {
      std::cerr << "byteblend: cannot write to standard output\n";
      return kFailure;
    }
    return status;
  } catch (const Failure &failure) {
    std::cerr << "byteblend: " << failure.message << '\n';
    return failure.status;
  } catch (const std::bad_alloc &) {
    std::cerr << "byteblend: out of memory\n";
  } catch (const std::exception &error) {
    std::cerr << "byteblend: " << error.what() << '\n';
  }
  return kFailure;
}
