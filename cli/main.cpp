// SPDX-License-Identifier: MIT
// The byteblend tool: blends two PNG or JPEG images in one of the thirteen
// modes or normal (TOP over the whole of BOTTOM, or placed at an offset),
// through TOP's alpha and an opacity, atop or over, one BOTTOM or a whole
// list of them into a folder, or writes a gallery of all the modes. Errors are
// one line on stderr naming the file and the reason; exit status 2 for a wrong
// command line, 1 for any other failure.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <new>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "blend_files.hpp"
#include "byteblend.hpp"
#include "byteblend_layers.hpp"
#include "demo.hpp"
#include "file_io.hpp"
#include "image.hpp"
#include "image_file.hpp"
#include "opacity.hpp"
#include "placement.hpp"
#include "printable.hpp"
#include "temporary_files.hpp"
#include "whole_number.hpp"

namespace {

namespace tool = byteblend::tool;

constexpr int kUsageError = 2;
constexpr int kFailure = 1;

constexpr std::string_view kHelp =
    "Usage:\n"
    "  byteblend [OPTIONS] MODE TOP BOTTOM OUT\n"
    "  byteblend [OPTIONS] --out-dir DIR MODE TOP BOTTOM...\n"
    "  byteblend demo [FOLDER]\n"
    "  byteblend --list | --help | --version\n"
    "OPTIONS: [--at X,Y] [--opacity O] [--over] [--quality N]\n"
    "\n"
    "Blends TOP onto BOTTOM, byte by byte, in MODE (see --list; case does not\n"
    "matter; normal lays TOP itself on) and writes OUT. TOP and BOTTOM are\n"
    "PNG or JPEG files, told apart by their content, and read as 8-bit RGB\n"
    "with alpha where they have it. OUT's name chooses its format:\n"
    ".png, or .jpg or .jpeg (any case); - (standard output), /dev/stdout,\n"
    "a pipe or a device gets PNG, written straight to it.\n"
    "TOP's alpha (an alpha channel or transparency) and --opacity say how "
    "much\n"
    "of the blend shows: atop (the default), TOP paints only where BOTTOM is\n"
    "and OUT keeps BOTTOM's alpha; with --over, where BOTTOM is transparent\n"
    "TOP shows as it is and OUT's alpha is the two layers' together. An\n"
    "opaque TOP at full opacity gives the plain blend. When BOTTOM has alpha,\n"
    "a PNG OUT is RGBA; JPEG has no alpha and drops it. The channel modes\n"
    "take the other two channels from BOTTOM. OUT is replaced only once it is\n"
    "complete (through a symbolic link, its target); an OUT that is TOP or\n"
    "BOTTOM is refused.\n"
    "\n"
    "Options (before, between or after the names; -- ends them):\n"
    "  --at X,Y       place TOP's top-left corner at pixel (X, Y) of BOTTOM\n"
    "                 (negative allowed); TOP may be of any size, only where\n"
    "                 it overlaps BOTTOM is blended, the rest of OUT is\n"
    "                 BOTTOM. Without it the images must have the same size.\n"
    "  --opacity O    how much of the blended TOP shows: 0 to 1 (0.7) or a\n"
    "                 percentage (70%), default 1; applied as the byte\n"
    "                 round(O * 255), halves up.\n"
    "  --over         lay TOP over BOTTOM (source-over) instead of atop it.\n"
    "  --quality N    JPEG quality of OUT, 1 to 100 (default 90; 4:2:0 "
    "chroma,\n"
    "                 4:4:4 at 100). PNG OUT is lossless and ignores it.\n"
    "  --out-dir DIR  blend TOP onto every BOTTOM and write each into DIR\n"
    "                 (created if missing) under BOTTOM's own file name, in\n"
    "                 the format that name asks for, on every core. A file\n"
    "                 that fails is reported and the others are written; on\n"
    "                 a terminal a progress bar shows count, rate and time\n"
    "                 left. The last line counts the files written and "
    "failed.\n"
    "\n"
    "JPEG: grey files are expanded to RGB; CMYK files are refused; the EXIF\n"
    "orientation is not applied (pixels are used as stored); truncated or\n"
    "corrupt files are refused rather than shown damaged.\n"
    "A progressive JPEG file may have at most 100 scans.\n"
    "\n"
    "demo writes two generated images, one image per mode, a transparent\n"
    "layer in every mode, atop and over, an opacity strip and index.html to\n"
    "FOLDER (default demo/) and prints where the page is.\n"
    "\n"
    "Exit status: 0 done, 1 failed (unreadable input, write error, any file "
    "of\n"
    "a folder run, ...), 2 wrong command line.\n"
    "\n";

std::string mode_list() {
  std::string list;
  for (const byteblend::LayerMode mode : byteblend::all_layer_modes) {
    list += list.empty() ? "" : ", ";
    list += byteblend::name(mode);
  }
  return list;
}

// The help's last paragraph: every mode, from the one table, in lines of at
// most 78 columns.
std::string modes_paragraph() {
  std::string text;
  std::string line = "Modes:";
  for (const byteblend::LayerMode mode : byteblend::all_layer_modes) {
    // Appended piece by piece: g++ 12 warns wrongly of " " + a string.
    std::string word(byteblend::name(mode));
    word += mode == byteblend::LayerMode::normal ? " (TOP itself)." : ",";
    if (line.size() + 1 + word.size() > 78) {
      text += line;
      text += '\n';
      line = " ";
    }
    line += ' ';
    line += word;
  }
  text += line;
  text += '\n';
  return text;
}

// A failure, reported as one line: "byteblend: <what>".
struct Failure {
  int status;
  std::string message;
};

// The command line once its options are taken out.
struct CommandLine {
  std::vector<std::string> names; // MODE, TOP, BOTTOM... and OUT
  std::optional<tool::Offset> at;
  int quality = tool::kDefaultJpegQuality;
  std::optional<std::string> out_dir;
  tool::Layering layering;
};

[[noreturn]] void usage(const std::string &message) {
  throw Failure{kUsageError, message + "; try 'byteblend --help'"};
}

// Takes --name VALUE or --name=VALUE at args[i]; none when args[i] is not
// this option.
std::optional<std::string> option_value(const std::vector<std::string> &args,
                                        std::size_t &i, std::string_view name) {
  const std::string &arg = args[i];
  if (arg == name) {
    if (i + 1 == args.size()) {
      usage(std::string(name) + " needs a value");
    }
    return args[++i];
  }
  if (arg.size() > name.size() && arg.compare(0, name.size(), name) == 0 &&
      arg[name.size()] == '=') {
    return arg.substr(name.size() + 1);
  }
  return std::nullopt;
}

int parse_quality(const std::string &text) {
  const std::optional<int> quality = tool::parse_whole_number<int>(text);
  if (!quality || *quality < 1 || *quality > 100) {
    usage("--quality '" + text + "' is not a whole number from 1 to 100");
  }
  return *quality;
}

double parse_opacity(const std::string &text) {
  const std::optional<double> opacity = tool::parse_opacity(text);
  if (!opacity) {
    usage("--opacity '" + text +
          "' is not a number from 0 to 1 (0.7) or a percentage from 0% to "
          "100% (70%)");
  }
  return *opacity;
}

std::string arguments(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " argument" : " arguments");
}

CommandLine parse(const std::vector<std::string> &args) {
  CommandLine line;
  bool options_ended = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string &arg = args[i];
    if (options_ended || arg.size() < 2 || arg[0] != '-') {
      line.names.push_back(arg);
    } else if (arg == "--") {
      options_ended = true;
    } else if (const auto at = option_value(args, i, "--at")) {
      line.at = tool::parse_offset(*at);
      if (!line.at) {
        usage("--at '" + *at + "' is not X,Y (two whole numbers)");
      }
    } else if (const auto opacity = option_value(args, i, "--opacity")) {
      line.layering.opacity = parse_opacity(*opacity);
    } else if (arg == "--over") {
      line.layering.blend_operator = byteblend::Operator::over;
    } else if (const auto quality = option_value(args, i, "--quality")) {
      line.quality = parse_quality(*quality);
    } else if (const auto folder = option_value(args, i, "--out-dir")) {
      if (folder->empty()) {
        usage("--out-dir needs a folder");
      }
      line.out_dir = *folder;
    } else {
      usage("unknown option '" + arg + "'");
    }
  }
  return line;
}

// One of the thirteen modes by parse_mode()'s rule, or normal, in any case.
byteblend::LayerMode parse_mode(const std::string &text) {
  if (const std::optional<byteblend::Mode> mode = byteblend::parse_mode(text)) {
    return *mode;
  }
  std::string lower = text;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  if (lower == byteblend::name(byteblend::LayerMode::normal)) {
    return byteblend::LayerMode::normal;
  }
  throw Failure{kUsageError,
                "unknown mode '" + text + "'; the modes are " + mode_list()};
}

tool::TopLayer read_top(const std::string &path) {
  try {
    return tool::TopLayer(tool::read_image(path));
  } catch (const std::runtime_error &error) {
    throw Failure{kFailure, path + ": " + error.what()};
  }
}

// OUT's format: the one its name asks for, or PNG where it is written
// directly; any other name is a wrong command line.
tool::Format output_format(const std::string &out) {
  try {
    return tool::output_format(out, tool::DirectOutput::png);
  } catch (const std::runtime_error &error) {
    usage(error.what());
  }
}

int blend_one(const CommandLine &line) {
  if (line.names.size() != 4) {
    usage("expected MODE TOP BOTTOM OUT, got " + arguments(line.names.size()));
  }
  const byteblend::LayerMode mode = parse_mode(line.names[0]);
  const tool::Format format = output_format(line.names[3]);
  const tool::TopLayer top = read_top(line.names[1]);
  const tool::Blending blending{mode,    line.names[1], &top,
                                line.at, line.quality,  line.layering};
  // One image: its rows on every core.
  tool::blend_file(blending, line.names[2], line.names[3], format, 0);
  return 0;
}

void make_folder(const std::filesystem::path &folder) {
  std::error_code error;
  tool::create_folder(folder, error);
  if (!error && !std::filesystem::is_directory(folder, error)) {
    error = std::make_error_code(std::errc::not_a_directory);
  }
  if (error) {
    throw Failure{kFailure,
                  folder.string() +
                      ": cannot make the output folder: " + error.message()};
  }
}

int blend_many(const CommandLine &line) {
  if (line.names.size() < 3) {
    usage("expected MODE TOP BOTTOM... with --out-dir, got " +
          arguments(line.names.size()));
  }
  const byteblend::LayerMode mode = parse_mode(line.names[0]);
  const std::filesystem::path folder = *line.out_dir;
  const std::vector<std::string> bottoms(line.names.begin() + 2,
                                         line.names.end());
  std::set<std::filesystem::path> outputs;
  for (const std::string &bottom : bottoms) {
    const std::filesystem::path out = tool::output_path(folder, bottom);
    if (!outputs.insert(out).second) {
      usage("two inputs named " + out.filename().string() +
            " would both be written to " + out.string());
    }
  }
  const tool::TopLayer top = read_top(line.names[1]);
  make_folder(folder);
  const tool::Blending blending{mode,    line.names[1], &top,
                                line.at, line.quality,  line.layering};
  const tool::FolderOutcome outcome = tool::blend_into_folder(
      blending, bottoms, folder, byteblend::usable_cores());
  return outcome.failed == 0 ? 0 : kFailure;
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
  // --help anywhere before "--" asks for help, as in most tools: a user who
  // has typed half a command and wonders what comes next gets it.
  const auto help_asked = [&] {
    for (const std::string &arg : args) {
      if (arg == "--") {
        return false;
      }
      if (arg == "--help" || arg == "-h") {
        return true;
      }
    }
    return false;
  };
  if (help_asked()) {
    std::cout << kHelp << modes_paragraph();
    return 0;
  }
  if (first == "--version") {
    only(first);
    std::cout << "byteblend " BYTEBLEND_VERSION "\n";
    return 0;
  }
  if (first == "--list") {
    only(first);
    for (const byteblend::LayerMode mode : byteblend::all_layer_modes) {
      std::cout << byteblend::name(mode) << '\n';
    }
    return 0;
  }
  if (first == "demo") {
    if (args.size() > 2) {
      throw Failure{kUsageError, "demo takes at most one folder"};
    }
    if (args.size() == 2 && args[1].empty()) {
      throw Failure{kUsageError, "demo needs a folder name, not an empty one"};
    }
    const std::filesystem::path folder = args.size() == 2 ? args[1] : "demo";
    const std::filesystem::path index = tool::write_demo(folder);
    const std::filesystem::path absolute =
        std::filesystem::absolute(index).lexically_normal();
    std::cout << "Wrote the top and bottom images, "
              << byteblend::all_modes.size() << " blends, "
              << 2 * byteblend::all_layer_modes.size()
              << " layers and the gallery to " << folder.string() << "\n"
              << "Open file://" << absolute.string() << " in a browser.\n";
    return 0;
  }
  const CommandLine line = parse(args);
  return line.out_dir ? blend_many(line) : blend_one(line);
}

// Opens /dev/null on any of descriptors 0, 1 and 2 that the tool was started
// without (`2>&-`), so that no file it opens takes their place and receives
// what is meant for them. False if they cannot be opened.
bool open_standard_descriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF &&
        ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY) != fd) {
      return false;
    }
  }
  return true;
}
} // namespace

int main(int argc, char **argv) {
  if (!open_standard_descriptors()) {
    return kFailure;
  }
  // Before any thread starts: they all inherit the blocked signals.
  const tool::TemporariesRemovedOnSignals signals;
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
    std::cerr << "byteblend: " << tool::printable(failure.message) << '\n';
    return failure.status;
  } catch (const std::bad_alloc &) {
    std::cerr << "byteblend: out of memory\n";
  } catch (const std::exception &error) {
    std::cerr << "byteblend: " << tool::printable(error.what()) << '\n';
  }
  return kFailure;
}
