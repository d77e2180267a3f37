// SPDX-License-Identifier: MIT
// The byteblend tool as a user runs it: each mode on every kind of input
// writes exactly the kernel's bytes, or with TOP's alpha and an opacity the
// layers' reference; each bad input gives one line naming the file and the
// reason, its exit status, and no output file; demo writes its gallery.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "image_file.hpp"
#include "jpeg_fixtures.hpp"
#include "layered_expectation.hpp"
#include "mode_table.hpp"
#include "png_fixtures.hpp"
#include "png_image.hpp"
#include "reference.hpp"

namespace {

namespace fs = std::filesystem;
using testing_support::Layout;
using testing_support::PngFormat;

struct Outcome {
  int status = -1;
  std::string out, err;
};

std::string slurp(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// In a forked child: becomes the program args[0] (found on PATH unless it
// names a folder too), or ends with status 127 where it cannot start.
[[noreturn]] void exec_program(const std::vector<std::string> &args) {
  std::vector<char *> argv;
  argv.reserve(args.size() + 1);
  for (const std::string &arg : args) {
    argv.push_back(const_cast<char *>(arg.c_str()));
  }
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
  _exit(127);
}

// The tool's command line for `args`.
std::vector<std::string> tool_command(std::vector<std::string> args) {
  args.insert(args.begin(), BYTEBLEND_TOOL);
  return args;
}

// Runs a program (found on PATH) in `folder`, collecting its output;
// `prepare` runs in the child just before the program starts.
Outcome run_program(const std::vector<std::string> &args,
                    const fs::path &folder,
                    const std::function<void()> &prepare = {}) {
  const fs::path out = folder / ".stdout";
  const fs::path err = folder / ".stderr";
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(folder.c_str()) != 0) {
      _exit(127);
    }
    const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(o, 1);
    dup2(e, 2);
    if (prepare) {
      prepare();
    }
    exec_program(args);
  }
  int status = 0;
  waitpid(child, &status, 0);
  Outcome outcome{WIFEXITED(status) ? WEXITSTATUS(status) : 128, slurp(out),
                  slurp(err)};
  fs::remove(out);
  fs::remove(err);
  return outcome;
}

Outcome run_tool(const std::vector<std::string> &args, const fs::path &folder,
                 const std::function<void()> &prepare = {}) {
  return run_program(tool_command(args), folder, prepare);
}

// A fresh folder per test, removed afterwards.
class ToolTest : public testing::Test {
protected:
  void SetUp() override {
    std::string name =
        (fs::temp_directory_path() / "byteblend-tool-XXXXXX").string();
    ASSERT_NE(mkdtemp(name.data()), nullptr);
    folder_ = name;
  }
  void TearDown() override {
    for (const auto &entry : fs::recursive_directory_iterator(folder_)) {
      if (entry.is_directory()) {
        fs::permissions(entry.path(), fs::perms::owner_all,
                        fs::perm_options::add);
      }
    }
    fs::remove_all(folder_);
  }
  [[nodiscard]] fs::path file(const std::string &name) const {
    return folder_ / name;
  }
  void put(const std::string &name, const std::vector<std::uint8_t> &bytes) {
    std::ofstream(file(name), std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  // Files in the folder other than `inputs`: outputs and leftovers.
  [[nodiscard]] static std::vector<std::string>
  extra_files(const std::vector<std::string> &inputs, const fs::path &where) {
    std::vector<std::string> extra;
    for (const auto &entry : fs::directory_iterator(where)) {
      const std::string name = entry.path().filename().string();
      if (std::find(inputs.begin(), inputs.end(), name) == inputs.end()) {
        extra.push_back(name);
      }
    }
    return extra;
  }
  fs::path folder_;
};

// What the tool must write: the kernel's formula on the visited bytes, the
// bottom's bytes elsewhere, the bottom's alpha.
std::vector<std::uint8_t>
expected_rgb(const reference::Kernel &kernel,
             const std::vector<std::uint8_t> &top,
             const std::vector<std::uint8_t> &bottom) {
  std::vector<std::uint8_t> result = bottom;
  for (std::size_t i = static_cast<std::size_t>(kernel.start);
       i < result.size(); i += static_cast<std::size_t>(kernel.stride)) {
    result[i] = static_cast<std::uint8_t>(kernel.formula(top[i], bottom[i]));
  }
  return result;
}

// A fixture as the image the tool's reader makes of it.
byteblend::tool::Image image_of(const testing_support::Fixture &fixture) {
  return {fixture.width, fixture.height, fixture.rgb, fixture.alpha};
}

struct Pairing {
  PngFormat top, bottom;
};

// An opaque TOP gives the kernel's bytes; a TOP with alpha (an alpha
// channel or tRNS) is laid atop through it at full opacity.
TEST_F(ToolTest, EveryModeWritesTheKernelsBytes) {
  const Pairing pairings[] = {
      {{"RGB 8", Layout::rgb, 8}, {"RGB 8", Layout::rgb, 8}},
      {{"RGB 16", Layout::rgb, 16}, {"RGBA 8", Layout::rgb_alpha, 8}},
      {{"grey 4", Layout::grey, 4}, {"palette 8", Layout::palette, 8}},
      {{"palette tRNS", Layout::palette, 4, true},
       {"grey 16", Layout::grey, 16}},
      {{"grey+alpha 16", Layout::grey_alpha, 16},
       {"palette tRNS", Layout::palette, 8, true}},
      {{"RGBA 16", Layout::rgb_alpha, 16},
       {"RGBA 16 interlaced", Layout::rgb_alpha, 16, false, true}},
  };
  unsigned seed = 1;
  for (const Pairing &pairing : pairings) {
    const auto top = testing_support::make_png(pairing.top, 23, 11, ++seed);
    const auto bottom =
        testing_support::make_png(pairing.bottom, 23, 11, ++seed);
    put("top.png", top.file);
    put("bottom.png", bottom.file);
    for (const auto &named : testing_support::kNamedModes) {
      const std::string what = std::string(named.name) + " of " +
                               pairing.top.name + " onto " +
                               pairing.bottom.name;
      const Outcome outcome = run_tool(
          {std::string(named.name), "top.png", "bottom.png", "out.png"},
          folder_);
      ASSERT_EQ(outcome.status, 0) << what << ": " << outcome.err;
      EXPECT_EQ(outcome.err, "") << what;
      const auto written = byteblend::tool::read_image(file("out.png"));
      EXPECT_EQ(written.width, 23U) << what;
      EXPECT_EQ(written.height, 11U) << what;
      const auto expected =
          top.alpha.empty()
              ? expected_rgb(reference::kernel_named(named.kernel), top.rgb,
                             bottom.rgb)
              : testing_support::expected_laying(
                    image_of(top), image_of(bottom),
                    {static_cast<int>(named.mode), 0, 255})
                    .rgb;
      EXPECT_EQ(written.rgb, expected) << what;
      EXPECT_EQ(written.alpha, bottom.alpha) << what;
      EXPECT_EQ(extra_files({"top.png", "bottom.png", "out.png"}, folder_),
                std::vector<std::string>{})
          << what;
    }
  }
}

struct BadCase {
  std::string what;
  std::vector<std::string> args;
  int status;
  std::vector<std::string> message; // all in the one line on stderr
};

TEST_F(ToolTest, BadInputGivesOneLineItsStatusAndNoOutput) {
  const auto rgb = [](std::uint32_t w, std::uint32_t h, unsigned seed) {
    return testing_support::make_png({"RGB", Layout::rgb, 8}, w, h, seed).file;
  };
  const auto good = rgb(13, 7, 1);
  put("top.png", good);
  put("bottom.png", rgb(13, 7, 2));
  put("small.png", rgb(5, 3, 3));
  put("text.png", {'G', 'I', 'F', '8', '9', 'a'});
  put("empty.png", {});
  put("cut.png", std::vector<std::uint8_t>(good.begin(), good.begin() + 60));
  put("plain-file", {'x'});
  const auto jpeg = testing_support::make_jpeg({"baseline"}, 13, 7, 4);
  put("cut.jpg", std::vector<std::uint8_t>(jpeg.begin(), jpeg.end() - 40));
  put("cmyk.jpg", testing_support::make_jpeg(
                      {"CMYK", testing_support::JpegColour::cmyk}, 13, 7, 5));
  fs::create_directory(file("folder.png"));
  const std::vector<std::string> inputs = {
      "top.png", "bottom.png", "small.png",  "text.png", "empty.png",
      "cut.png", "plain-file", "folder.png", "cut.jpg",  "cmyk.jpg"};

  const BadCase cases[] = {
      {"no arguments", {}, 2, {"no arguments", "--help"}},
      {"too few", {"screen", "top.png", "out.png"}, 2, {"got 3 arguments"}},
      {"one name", {"screen"}, 2, {"got 1 argument;"}},
      {"one name with --out-dir",
       {"screen", "--out-dir", "out"},
       2,
       {"got 1 argument;"}},
      {"control characters in a name",
       {"screen", "top.png", "bad\x1b[31m\nname\x7f.png", "out.png"},
       1,
       {R"(bad\x1b[31m\x0aname\x7f.png: cannot read)"}},
      {"too many",
       {"screen", "top.png", "bottom.png", "out.png", "x"},
       2,
       {"got 5 arguments"}},
      {"unknown option",
       {"--frobnicate"},
       2,
       {"unknown option '--frobnicate'"}},
      {"--list with arguments", {"--list", "x"}, 2, {"--list takes no"}},
      {"unknown mode",
       {"dissolve", "top.png", "bottom.png", "out.png"},
       2,
       {"unknown mode 'dissolve'",
        "addition, subtraction, multiplication, screen, red-channel, "
        "green-channel, blue-channel, opacity, overlay, lighten, darken, "
        "color-dodge, color-burn, normal"}},
      {"missing top",
       {"screen", "none.png", "bottom.png", "out.png"},
       1,
       {"none.png: cannot read: No such file or directory"}},
      {"missing bottom",
       {"screen", "top.png", "none.png", "out.png"},
       1,
       {"none.png: cannot read: No such file or directory"}},
      {"folder as input",
       {"screen", "folder.png", "bottom.png", "out.png"},
       1,
       {"folder.png: cannot read: Is a directory"}},
      {"not a PNG",
       {"screen", "top.png", "text.png", "out.png"},
       1,
       {"text.png: not a PNG or JPEG file"}},
      {"empty input",
       {"screen", "empty.png", "bottom.png", "out.png"},
       1,
       {"empty.png: not a PNG or JPEG file"}},
      {"truncated JPEG",
       {"screen", "cut.jpg", "bottom.png", "out.png"},
       1,
       {"cut.jpg: truncated JPEG file"}},
      {"CMYK JPEG",
       {"screen", "top.png", "cmyk.jpg", "out.png"},
       1,
       {"cmyk.jpg: CMYK JPEG files are not supported"}},
      {"output format unknown",
       {"screen", "top.png", "bottom.png", "out.gif"},
       2,
       {"out.gif: cannot tell the output format", ".png, .jpg or .jpeg"}},
      {"./- is a file, not standard output",
       {"screen", "top.png", "bottom.png", "./-"},
       2,
       {"./-: cannot tell the output format"}},
      {"output without extension",
       {"screen", "top.png", "bottom.png", "out"},
       2,
       {"out: cannot tell the output format"}},
      {"--at without comma",
       {"screen", "--at", "3", "top.png", "bottom.png", "out.png"},
       2,
       {"--at '3' is not X,Y"}},
      {"--at too far",
       {"screen", "--at=1,99999999999", "top.png", "bottom.png", "out.png"},
       2,
       {"--at '1,99999999999' is not X,Y"}},
      {"--at without value",
       {"screen", "top.png", "bottom.png", "out.png", "--at"},
       2,
       {"--at needs a value"}},
      {"--opacity above 1",
       {"--opacity", "1.5", "screen", "top.png", "bottom.png", "out.png"},
       2,
       {"--opacity '1.5' is not a number from 0 to 1 (0.7) or a percentage "
        "from 0% to 100% (70%)"}},
      {"--opacity above 100%",
       {"--opacity=101%", "screen", "top.png", "bottom.png", "out.png"},
       2,
       {"--opacity '101%' is not a number"}},
      {"--opacity negative",
       {"screen", "--opacity=-0.1", "top.png", "bottom.png", "out.png"},
       2,
       {"--opacity '-0.1'"}},
      {"--opacity nan",
       {"screen", "top.png", "bottom.png", "out.png", "--opacity", "nan"},
       2,
       {"--opacity 'nan'"}},
      {"--opacity in words",
       {"--opacity", "half", "screen", "top.png", "bottom.png", "out.png"},
       2,
       {"--opacity 'half'"}},
      {"--opacity without value",
       {"screen", "top.png", "bottom.png", "out.png", "--opacity"},
       2,
       {"--opacity needs a value"}},
      {"--over with a value",
       {"--over=yes", "screen", "top.png", "bottom.png", "out.png"},
       2,
       {"unknown option '--over=yes'"}},
      {"--quality 0",
       {"--quality", "0", "screen", "top.png", "bottom.png", "out.jpg"},
       2,
       {"--quality '0' is not a whole number from 1 to 100"}},
      {"--quality 101",
       {"--quality=101", "screen", "top.png", "bottom.png", "out.jpg"},
       2,
       {"--quality '101'"}},
      {"--quality with two signs",
       {"--quality", "+-5", "screen", "top.png", "bottom.png", "out.jpg"},
       2,
       {"--quality '+-5'"}},
      {"--quality not a number",
       {"--quality", "high", "screen", "top.png", "bottom.png", "out.jpg"},
       2,
       {"--quality 'high'"}},
      {"--out-dir without BOTTOM",
       {"screen", "top.png", "--out-dir", "out"},
       2,
       {"expected MODE TOP BOTTOM... with --out-dir, got 2 arguments"}},
      {"--out-dir with two BOTTOMs of one name",
       {"screen", "top.png", "--out-dir", "out", "bottom.png",
        "folder.png/../bottom.png"},
       2,
       {"two inputs named bottom.png would both be written to "
        "out/bottom.png"}},
      {"--out-dir is a file",
       {"screen", "top.png", "--out-dir", "plain-file", "bottom.png"},
       1,
       {"plain-file: cannot make the output folder"}},
      {"--out-dir with an unreadable TOP",
       {"screen", "none.png", "--out-dir", "out", "bottom.png"},
       1,
       {"none.png: cannot read"}},
      {"truncated input",
       {"screen", "top.png", "cut.png", "out.png"},
       1,
       {"cut.png: truncated PNG file"}},
      {"sizes differ",
       {"screen", "top.png", "small.png", "out.png"},
       1,
       {"small.png: 5x3 pixels, but top.png has 13x7"}},
      {"missing output folder",
       {"screen", "top.png", "bottom.png", "none/out.png"},
       1,
       {"none/out.png: cannot write: folder none: No such file or "
        "directory"}},
      {"output folder is a file",
       {"screen", "top.png", "bottom.png", "plain-file/out.png"},
       1,
       {"plain-file/out.png: cannot write: plain-file is not a folder"}},
      {"output is a folder",
       {"screen", "top.png", "bottom.png", "folder.png"},
       1,
       {"folder.png: cannot write: is a folder"}},
      {"full device",
       {"screen", "top.png", "bottom.png", "/dev/full"},
       1,
       {"/dev/full: cannot write: No space left on device"}},
  };
  for (const BadCase &c : cases) {
    const Outcome outcome = run_tool(c.args, folder_);
    EXPECT_EQ(outcome.status, c.status) << c.what << ": " << outcome.err;
    EXPECT_EQ(outcome.err.rfind("byteblend: ", 0), 0U) << c.what;
    EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1)
        << c.what << ": " << outcome.err;
    for (const std::string &part : c.message) {
      EXPECT_NE(outcome.err.find(part), std::string::npos)
          << c.what << ": " << outcome.err << "lacks: " << part;
    }
    EXPECT_EQ(outcome.out, "") << c.what;
    EXPECT_EQ(extra_files(inputs, folder_), std::vector<std::string>{})
        << c.what;
    EXPECT_TRUE(fs::is_empty(file("folder.png"))) << c.what;
  }
}

// Whether the tool is built with a sanitizer (as the tests are), which
// reserves terabytes of address space for its shadow memory: it cannot run
// within a limit of address space.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

struct ReadCase {
  std::string what, bottom;
  std::string message; // the start of the line after "byteblend: "
};

TEST_F(ToolTest, InputsAreReadOnlyAsFarAsTheyNeed) {
  // In 1 GiB of address space, where a 3 GiB file cannot be held whole, nor
  // /dev/zero read to its end: each is refused as far as its first bytes
  // or its header tell, naming the file.
  if (kSanitized) {
    GTEST_SKIP() << "a sanitizer's shadow memory does not fit in the limit";
  }
  constexpr rlim_t kAddressSpace = rlim_t{1} << 30;
  constexpr std::uintmax_t kHuge = std::uintmax_t{3} << 30;
  const auto small_png =
      testing_support::make_png({"RGB", Layout::rgb, 8}, 16, 16, 1).file;
  put("top.png", small_png);
  // Sparse: 3 GiB of zeros that take no room on the disk.
  put("huge.png", {});
  fs::resize_file(file("huge.png"), kHuge);
  put("lying.png", testing_support::with_claimed_size(small_png, 30000, 30000));
  fs::resize_file(file("lying.png"), kHuge);
  put("lying.jpg",
      testing_support::with_claimed_jpeg_size(
          testing_support::make_jpeg({"baseline"}, 64, 48, 2), 30000, 30000));
  // Arithmetic coding holds a flat image of any size in about 200 bytes: a
  // real 2.7 GB image, which does not fit.
  put("flat.jpg", testing_support::with_claimed_jpeg_size(
                      testing_support::make_flat_jpeg(
                          {"arithmetic", testing_support::JpegColour::ycbcr,
                           false, 0, true},
                          640, 480, 255),
                      30000, 30000));
  const ReadCase cases[] = {
      {"3 GiB of zeros", "huge.png", "huge.png: not a PNG or JPEG file"},
      {"endless zeros", "/dev/zero", "/dev/zero: not a PNG or JPEG file"},
      {"a PNG header claiming 30000x30000 pixels, then 3 GiB of zeros",
       "lying.png", "lying.png: invalid PNG file: "},
      {"a JPEG header claiming more than its data holds", "lying.jpg",
       "lying.jpg: truncated JPEG file"},
      {"a JPEG image larger than the memory", "flat.jpg",
       "flat.jpg: out of memory reading a 30000x30000 image"},
  };
  for (const ReadCase &c : cases) {
    const Outcome outcome =
        run_tool({"screen", "top.png", c.bottom, "out.png"}, folder_, [] {
          const rlimit limit{kAddressSpace, kAddressSpace};
          if (setrlimit(RLIMIT_AS, &limit) != 0) {
            _exit(127);
          }
        });
    EXPECT_EQ(outcome.status, 1) << c.what << ": " << outcome.err;
    EXPECT_EQ(outcome.err.rfind("byteblend: " + c.message, 0), 0U)
        << c.what << ": " << outcome.err;
    EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1)
        << c.what << ": " << outcome.err;
    EXPECT_FALSE(fs::exists(file("out.png"))) << c.what;
  }
}

TEST_F(ToolTest, FailureLeavesAnExistingOutputAsItWas) {
  put("top.png",
      testing_support::make_png({"RGB", Layout::rgb, 8}, 4, 4, 1).file);
  put("small.png",
      testing_support::make_png({"RGB", Layout::rgb, 8}, 3, 4, 2).file);
  put("out.png", {'o', 'l', 'd'});
  EXPECT_EQ(
      run_tool({"screen", "top.png", "small.png", "out.png"}, folder_).status,
      1);
  EXPECT_EQ(slurp(file("out.png")), "old");
}

TEST_F(ToolTest, FolderWithoutWritePermissionIsRefused) {
  if (geteuid() == 0) {
    GTEST_SKIP() << "root may write into any folder; the read-only mount "
                    "test covers this case";
  }
  put("top.png",
      testing_support::make_png({"RGB", Layout::rgb, 8}, 4, 4, 1).file);
  fs::create_directory(file("locked"));
  fs::permissions(file("locked"),
                  fs::perms::owner_read | fs::perms::owner_exec);
  const Outcome outcome =
      run_tool({"screen", "top.png", "top.png", "locked/out.png"}, folder_);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("locked/out.png: cannot write in folder locked: "
                             "Permission denied"),
            std::string::npos)
      << outcome.err;
  EXPECT_TRUE(fs::is_empty(file("locked")));
}

// A small tmpfs, mounted in a user namespace of its own (no privileges
// needed where the kernel allows them): the tool runs in it and the folder's
// contents are listed afterwards, from inside the namespace.
Outcome in_private_mount(const std::string &options,
                         const std::vector<std::string> &tool_args,
                         const fs::path &folder) {
  std::vector<std::string> args = {
      "unshare",
      "-rm",
      "sh",
      "-c",
      "mount -t tmpfs -o " + options +
          " none mnt || exit 99; \"$@\"; status=$?; ls -A mnt >&2; "
          "exit $status",
      "sh",
      BYTEBLEND_TOOL};
  args.insert(args.end(), tool_args.begin(), tool_args.end());
  return run_program(args, folder);
}

TEST_F(ToolTest, FullDiskLeavesNoFile) {
  // Noise does not compress: 64 KiB of it cannot fit in 16 KiB.
  put("top.png",
      testing_support::make_png({"RGB", Layout::rgb, 8}, 128, 128, 1).file);
  fs::create_directory(file("mnt"));
  const Outcome outcome = in_private_mount(
      "size=16k", {"addition", "top.png", "top.png", "mnt/out.png"}, folder_);
  if (outcome.status == 99 || outcome.status == 127) {
    GTEST_SKIP() << "cannot mount a tmpfs here: " << outcome.err;
  }
  EXPECT_EQ(outcome.status, 1);
  // The listing of mnt follows the error line, and must be empty.
  EXPECT_EQ(outcome.err,
            "byteblend: mnt/out.png: cannot write: No space left on device\n");
}

TEST_F(ToolTest, ReadOnlyFolderIsRefused) {
  put("top.png",
      testing_support::make_png({"RGB", Layout::rgb, 8}, 4, 4, 1).file);
  fs::create_directory(file("mnt"));
  const Outcome outcome = in_private_mount(
      "ro", {"addition", "top.png", "top.png", "mnt/out.png"}, folder_);
  if (outcome.status == 99 || outcome.status == 127) {
    GTEST_SKIP() << "cannot mount a tmpfs here: " << outcome.err;
  }
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err, "byteblend: mnt/out.png: cannot write in folder mnt: "
                         "Read-only file system\n");
}

TEST_F(ToolTest, ListHelpAndVersion) {
  const Outcome list = run_tool({"--list"}, folder_);
  std::string names;
  for (const auto &named : testing_support::kNamedModes) {
    names += std::string(named.name) + "\n";
  }
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(list.out, names + "normal\n");
  const Outcome help = run_tool({"--help"}, folder_);
  EXPECT_EQ(help.status, 0);
  for (const char *part :
       {"byteblend [OPTIONS] MODE TOP BOTTOM OUT",
        "[--at X,Y] [--opacity O] [--over] [--quality N]",
        "--opacity O    how much of the blended TOP shows: 0 to 1 (0.7) or a",
        "--over         lay TOP over BOTTOM", "normal lays TOP itself on",
        "--out-dir DIR MODE TOP BOTTOM...", "EXIF\norientation is not applied",
        "CMYK files are refused", "at most 100 scans",
        "- (standard output), /dev/stdout,\na pipe"}) {
    EXPECT_NE(help.out.find(part), std::string::npos) << part;
  }
  // Help names every mode, normal last.
  const std::size_t modes = help.out.find("\nModes: addition,");
  ASSERT_NE(modes, std::string::npos) << help.out;
  for (const auto &named : testing_support::kNamedModes) {
    std::string listed(named.name); // appended: g++ 12 warns wrongly of +
    listed += ',';
    EXPECT_NE(help.out.find(listed, modes), std::string::npos) << named.name;
  }
  EXPECT_TRUE(help.out.ends_with(" normal (TOP itself).\n")) << help.out;
  // Help comes wherever --help stands before "--".
  for (const std::vector<std::string> &args :
       {std::vector<std::string>{"screen", "--help"},
        {"screen", "top.png", "-h", "out.png"},
        {"--out-dir", "x", "--help"}}) {
    const Outcome later = run_tool(args, folder_);
    EXPECT_EQ(later.status, 0) << args[1] << ": " << later.err;
    EXPECT_EQ(later.out, help.out) << args[1];
  }
  const Outcome version = run_tool({"--version"}, folder_);
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "byteblend " BYTEBLEND_VERSION "\n");
}

TEST_F(ToolTest, DemoWritesEveryModeAndAPageThatNamesThem) {
  for (const std::vector<std::string> &args :
       {std::vector<std::string>{"demo"},
        std::vector<std::string>{"demo", "new/gallery"}}) {
    const fs::path gallery = args.size() == 2 ? file(args[1]) : file("demo");
    const Outcome outcome = run_tool(args, folder_);
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    const std::string index =
        fs::weakly_canonical(gallery / "index.html").string();
    EXPECT_NE(outcome.out.find("file://" + index), std::string::npos)
        << outcome.out;

    const auto top = byteblend::tool::read_image(gallery / "top.png");
    const auto bottom = byteblend::tool::read_image(gallery / "bottom.png");
    EXPECT_EQ(top.width, bottom.width);
    EXPECT_EQ(top.height, bottom.height);
    EXPECT_NE(top.rgb, bottom.rgb);
    const std::string page = slurp(gallery / "index.html");
    EXPECT_NE(page.find("src=\"top.png\""), std::string::npos);
    EXPECT_NE(page.find("src=\"bottom.png\""), std::string::npos);
    std::size_t pngs = 2;
    for (const auto &named : testing_support::kNamedModes) {
      const std::string name(named.name);
      const auto blended =
          byteblend::tool::read_image(gallery / (name + ".png"));
      ++pngs;
      EXPECT_EQ(blended.rgb, expected_rgb(reference::kernel_named(named.kernel),
                                          top.rgb, bottom.rgb))
          << name;
      EXPECT_NE(page.find("src=\"" + name + ".png\""), std::string::npos)
          << name;
      EXPECT_NE(page.find("<b>" + name + "</b>"), std::string::npos) << name;
    }
    // The layers' row: the transparent layer on the half-transparent
    // bottom in every layer mode, atop and over, each the reference.
    const fs::path layers = gallery / "layers";
    const auto layer = byteblend::tool::read_image(layers / "layer.png");
    const auto bottom_alpha =
        byteblend::tool::read_image(layers / "bottom-alpha.png");
    EXPECT_FALSE(layer.alpha.empty());
    EXPECT_FALSE(bottom_alpha.alpha.empty());
    pngs += 2;
    for (int mode = 0; mode < layers_reference::kModes; ++mode) {
      const std::string name =
          mode == layers_reference::kNormal
              ? "normal"
              : std::string(testing_support::kNamedModes[mode].name);
      for (const int over : {0, 1}) {
        const std::string png = (over == 1 ? "over-" : "atop-") + name + ".png";
        const auto laid = byteblend::tool::read_image(layers / png);
        ++pngs;
        const auto expected = testing_support::expected_laying(
            layer, bottom_alpha, {mode, over, 255});
        EXPECT_EQ(laid.rgb, expected.rgb) << png;
        EXPECT_EQ(laid.alpha, expected.alpha) << png;
        EXPECT_NE(page.find("src=\"layers/" + png + "\""), std::string::npos)
            << png;
      }
    }
    // The opacity strip: the layer in normal at 0, 1/4, 1/2, 3/4 and all,
    // side by side, on bottom-alpha's colours made opaque.
    const auto strip =
        byteblend::tool::read_image(layers / "opacity-strip.png");
    ++pngs;
    ASSERT_EQ(strip.width, layer.width * 5);
    byteblend::tool::Image expected_strip{strip.width, layer.height, {}, {}};
    const auto row_bytes = static_cast<std::ptrdiff_t>(layer.width) * 3;
    for (std::ptrdiff_t y = 0; y < static_cast<std::ptrdiff_t>(layer.height);
         ++y) {
      for (int i = 0; i < 5; ++i) {
        const auto row = bottom_alpha.rgb.begin() + y * row_bytes;
        expected_strip.rgb.insert(expected_strip.rgb.end(), row,
                                  row + row_bytes);
      }
    }
    const std::uint8_t opacities[] = {0, 64, 128, 191, 255};
    for (long tile = 0; tile < 5; ++tile) {
      expected_strip = testing_support::expected_laying(
          layer, expected_strip,
          {layers_reference::kNormal, 0, opacities[tile],
           tile * static_cast<long>(layer.width), 0});
    }
    EXPECT_EQ(strip.rgb, expected_strip.rgb);
    EXPECT_TRUE(strip.alpha.empty());
    EXPECT_NE(page.find("src=\"layers/opacity-strip.png\""), std::string::npos);

    // The gallery's own *.png are of one size, so that a glob of them may
    // go to a folder run; the layers' images are in a folder of their own.
    std::size_t files = 0;
    for (const fs::path &where : {gallery, layers}) {
      for (const auto &entry : fs::directory_iterator(where)) {
        files += entry.path().extension() == ".png" ? 1 : 0;
      }
    }
    EXPECT_EQ(files, pngs);
    EXPECT_EQ(pngs, 46U);
  }
}

// Decodes what the tool wrote, whichever the format.
std::vector<std::uint8_t> written_rgb(const fs::path &path) {
  const std::string bytes = slurp(path);
  const std::vector<std::uint8_t> file(bytes.begin(), bytes.end());
  if (path.extension() == ".png") {
    return byteblend::tool::decode_png(file).rgb;
  }
  return testing_support::decode_with_libjpeg(file).rgb;
}

TEST_F(ToolTest, JpegInputsBlendExactlyAsLibjpegDecodesThem) {
  using testing_support::JpegColour;
  const auto top = testing_support::make_jpeg({"baseline"}, 21, 10, 1);
  const auto bottom = testing_support::make_jpeg(
      {"grey progressive", JpegColour::grey, true, 1}, 21, 10, 2);
  const auto png =
      testing_support::make_png({"RGB", Layout::rgb, 8}, 21, 10, 3);
  // Named as what they are not: the content decides.
  put("top.png", top);
  put("bottom.jpg", bottom);
  put("other.jpg", png.file);
  const auto top_rgb = testing_support::decode_with_libjpeg(top).rgb;
  const auto bottom_rgb = testing_support::decode_with_libjpeg(bottom).rgb;
  for (const auto &named : testing_support::kNamedModes) {
    const auto &kernel = reference::kernel_named(named.kernel);
    const std::string mode(named.name);
    Outcome outcome =
        run_tool({mode, "top.png", "bottom.jpg", "out.png"}, folder_);
    ASSERT_EQ(outcome.status, 0) << mode << ": " << outcome.err;
    EXPECT_EQ(written_rgb(file("out.png")),
              expected_rgb(kernel, top_rgb, bottom_rgb))
        << mode;
    outcome = run_tool({mode, "other.jpg", "top.png", "out.png"}, folder_);
    ASSERT_EQ(outcome.status, 0) << mode << ": " << outcome.err;
    EXPECT_EQ(written_rgb(file("out.png")),
              expected_rgb(kernel, png.rgb, top_rgb))
        << mode;
  }
}

TEST_F(ToolTest, JpegOutputIsTheBlendWithinItsQualitysError) {
  const auto top =
      testing_support::make_png({"RGB", Layout::rgb, 8}, 40, 24, 1);
  const auto bottom =
      testing_support::make_png({"RGBA", Layout::rgb_alpha, 8}, 40, 24, 2);
  put("top.png", top.file);
  put("bottom.png", bottom.file);
  const auto blended =
      expected_rgb(reference::kernel_named("ScreenBlend"), top.rgb, bottom.rgb);
  // At quality 100 the tool keeps full chroma: noise comes back within 4
  // (its encoder's test measures 3). JPEG has no alpha, so none is written.
  Outcome outcome = run_tool(
      {"screen", "--quality", "100", "top.png", "bottom.png", "out.JPEG"},
      folder_);
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  const auto rgb = written_rgb(file("out.JPEG"));
  ASSERT_EQ(rgb.size(), blended.size());
  int largest = 0;
  for (std::size_t i = 0; i < rgb.size(); ++i) {
    largest = std::max(largest, std::abs(int{rgb[i]} - int{blended[i]}));
  }
  EXPECT_LE(largest, 4);
  // The default quality, 90, makes a smaller file than 100 and a larger one
  // than 20.
  ASSERT_EQ(
      run_tool({"screen", "top.png", "bottom.png", "q90.jpg"}, folder_).status,
      0);
  ASSERT_EQ(
      run_tool({"screen", "top.png", "bottom.png", "q20.jpg", "--quality=20"},
               folder_)
          .status,
      0);
  EXPECT_LT(fs::file_size(file("q90.jpg")), fs::file_size(file("out.JPEG")));
  EXPECT_LT(fs::file_size(file("q20.jpg")), fs::file_size(file("q90.jpg")));
  EXPECT_EQ(
      extra_files({"top.png", "bottom.png", "out.JPEG", "q90.jpg", "q20.jpg"},
                  folder_),
      std::vector<std::string>{});
}

// What --at must give, pixel by pixel: TOP's pixel (x - X, y - Y) blended
// onto BOTTOM's (x, y) where it exists, in the kernel's channels.
std::vector<std::uint8_t> expected_at(const reference::Kernel &kernel,
                                      const testing_support::Fixture &top,
                                      const testing_support::Fixture &bottom,
                                      long x_at, long y_at) {
  std::vector<std::uint8_t> result = bottom.rgb;
  for (long y = 0; y < static_cast<long>(bottom.height); ++y) {
    for (long x = 0; x < static_cast<long>(bottom.width); ++x) {
      const long tx = x - x_at;
      const long ty = y - y_at;
      if (tx < 0 || ty < 0 || tx >= static_cast<long>(top.width) ||
          ty >= static_cast<long>(top.height)) {
        continue;
      }
      for (long c = 0; c < 3; ++c) {
        if (c < kernel.start || (c - kernel.start) % kernel.stride != 0) {
          continue;
        }
        const auto i = static_cast<std::size_t>((y * bottom.width + x) * 3 + c);
        const auto j = static_cast<std::size_t>((ty * top.width + tx) * 3 + c);
        result[i] = static_cast<std::uint8_t>(
            kernel.formula(top.rgb[j], bottom.rgb[i]));
      }
    }
  }
  return result;
}

struct AtCase {
  std::string what;
  std::uint32_t top_width, top_height;
  long x, y;
};

TEST_F(ToolTest, AtBlendsOnlyWhereTopOverlapsBottom) {
  const AtCase cases[] = {
      {"inside", 5, 4, 2, 1},
      {"whole rows", 9, 3, 0, 2},
      {"partly outside, left and above", 5, 4, -2, -3},
      {"partly outside, right and below", 5, 4, 6, 5},
      {"fully outside, right", 5, 4, 9, 0},
      {"fully outside, above", 5, 4, 0, -4},
      {"larger than BOTTOM", 12, 10, -1, -2},
  };
  const auto bottom =
      testing_support::make_png({"RGBA", Layout::rgb_alpha, 8}, 9, 7, 1);
  put("bottom.png", bottom.file);
  unsigned seed = 2;
  for (const AtCase &c : cases) {
    const auto top = testing_support::make_png(
        {"RGB", Layout::rgb, 8}, c.top_width, c.top_height, ++seed);
    put("top.png", top.file);
    const std::string at = std::to_string(c.x) + "," + std::to_string(c.y);
    for (const auto &named : testing_support::kNamedModes) {
      const std::string what = c.what + ", " + std::string(named.name);
      const Outcome outcome = run_tool({std::string(named.name), "--at", at,
                                        "top.png", "bottom.png", "out.png"},
                                       folder_);
      ASSERT_EQ(outcome.status, 0) << what << ": " << outcome.err;
      EXPECT_EQ(outcome.err, "") << what;
      const auto written = byteblend::tool::read_image(file("out.png"));
      EXPECT_EQ(written.width, 9U) << what;
      EXPECT_EQ(written.height, 7U) << what;
      EXPECT_EQ(written.rgb, expected_at(reference::kernel_named(named.kernel),
                                         top, bottom, c.x, c.y))
          << what;
      EXPECT_EQ(written.alpha, bottom.alpha) << what;
    }
  }
}

// The name of mode number `mode` (13: normal), as typed.
std::string layer_mode_name(int mode) {
  return mode == layers_reference::kNormal
             ? "normal"
             : std::string(testing_support::kNamedModes[mode].name);
}

struct LayerCase {
  std::string what;
  std::string bottom;             // the file laid onto
  std::vector<std::string> extra; // options beside --at
  long x, y;
  int opacity, over; // the opacity byte the options stand for; 1: over
};

// An RGBA logo placed with --at onto a photo, through its alpha and an
// opacity, atop or over, in every mode: every pixel of OUT is the layers'
// integer reference applied to what the tool's reader makes of the inputs.
TEST_F(ToolTest, RgbaLogoOntoAPhotoIsTheLayersReference) {
  const auto logo =
      testing_support::make_png({"RGBA", Layout::rgb_alpha, 8}, 9, 6, 1);
  put("logo.png", logo.file);
  put("photo.jpg", testing_support::make_jpeg({"baseline"}, 21, 10, 2));
  const auto rgba =
      testing_support::make_png({"RGBA", Layout::rgb_alpha, 8}, 21, 10, 3);
  put("rgba.png", rgba.file);
  const LayerCase cases[] = {
      {"JPEG, 70%", "photo.jpg", {"--opacity", "70%"}, 5, 2, 179, 0},
      {"JPEG, 0.25, off the corner",
       "photo.jpg",
       {"--opacity=0.25"},
       -3,
       7,
       64,
       0},
      {"JPEG, over is atop on an opaque photo",
       "photo.jpg",
       {"--over", "--opacity", ".7"},
       14,
       -1,
       179,
       1},
      {"JPEG, full opacity", "photo.jpg", {}, 2, 3, 255, 0},
      {"RGBA, over, 30%",
       "rgba.png",
       {"--over", "--opacity", "30%"},
       5,
       2,
       77,
       1},
      {"RGBA, over, full", "rgba.png", {"--over"}, 15, 6, 255, 1},
      {"RGBA, atop, 0%", "rgba.png", {"--opacity", "0%"}, 1, 1, 0, 0},
  };
  for (const LayerCase &c : cases) {
    const auto bottom = byteblend::tool::read_image(file(c.bottom));
    for (int mode = 0; mode < layers_reference::kModes; ++mode) {
      const std::string what = c.what + ", " + layer_mode_name(mode);
      std::vector<std::string> args = {layer_mode_name(mode), "--at",
                                       std::to_string(c.x) + "," +
                                           std::to_string(c.y)};
      args.insert(args.end(), c.extra.begin(), c.extra.end());
      args.insert(args.end(), {"logo.png", c.bottom, "out.png"});
      const Outcome outcome = run_tool(args, folder_);
      ASSERT_EQ(outcome.status, 0) << what << ": " << outcome.err;
      EXPECT_EQ(outcome.err, "") << what;
      const auto written = byteblend::tool::read_image(file("out.png"));
      const auto expected = testing_support::expected_laying(
          image_of(logo), bottom,
          {mode, c.over, static_cast<std::uint8_t>(c.opacity), c.x, c.y});
      EXPECT_EQ(written.width, bottom.width) << what;
      EXPECT_EQ(written.height, bottom.height) << what;
      EXPECT_EQ(written.rgb, expected.rgb) << what;
      EXPECT_EQ(written.alpha, expected.alpha) << what;
    }
  }
}

// An opaque TOP at full opacity, however it is said, writes exactly the
// file the plain blend writes, the kernel's bytes with BOTTOM's alpha.
TEST_F(ToolTest, OpaqueTopAtFullOpacityIsThePlainBlend) {
  const auto top = testing_support::make_png({"RGB", Layout::rgb, 8}, 6, 5, 1);
  const auto bottom =
      testing_support::make_png({"RGBA", Layout::rgb_alpha, 8}, 9, 7, 2);
  put("top.png", top.file);
  put("bottom.png", bottom.file);
  const std::vector<std::string> forms[] = {
      {"--opacity", "1"}, {"--opacity=100%"}, {"--opacity", "0.999"}};
  for (const auto &named : testing_support::kNamedModes) {
    const std::string mode(named.name);
    const std::vector<std::string> plain = {
        mode, "--at", "2,3", "top.png", "bottom.png", "plain.png"};
    ASSERT_EQ(run_tool(plain, folder_).status, 0) << mode;
    const auto written = byteblend::tool::read_image(file("plain.png"));
    EXPECT_EQ(written.rgb, expected_at(reference::kernel_named(named.kernel),
                                       top, bottom, 2, 3))
        << mode;
    EXPECT_EQ(written.alpha, bottom.alpha) << mode;
    for (const auto &form : forms) {
      std::vector<std::string> args = {mode,      "--at",       "2,3",
                                       "top.png", "bottom.png", "out.png"};
      args.insert(args.end(), form.begin(), form.end());
      ASSERT_EQ(run_tool(args, folder_).status, 0) << mode << " " << form[0];
      EXPECT_EQ(slurp(file("out.png")), slurp(file("plain.png")))
          << mode << " " << form[0];
    }
  }
}

// A folder run lays TOP on every BOTTOM as a single blend does: each
// output (PNG, whatever its input's content) is the layers' reference.
TEST_F(ToolTest, FolderRunWithOpacityLaysTopOnEveryBottom) {
  const auto logo =
      testing_support::make_png({"grey+alpha", Layout::grey_alpha, 8}, 7, 5, 1);
  put("logo.png", logo.file);
  fs::create_directory(file("in"));
  put("in/rgba.png",
      testing_support::make_png({"RGBA", Layout::rgb_alpha, 8}, 12, 8, 2).file);
  put("in/rgb.png",
      testing_support::make_png({"RGB", Layout::rgb, 8}, 10, 9, 3).file);
  // JPEG content under a PNG name: read as JPEG, written as PNG.
  put("in/photo.png", testing_support::make_jpeg({"baseline"}, 16, 8, 4));
  const char *bottoms[] = {"in/rgba.png", "in/rgb.png", "in/photo.png"};
  const struct {
    std::vector<std::string> options;
    int opacity, over;
  } runs[] = {
      {{"--opacity", "40%"}, 102, 0},
      {{"--over", "--opacity=0.85"}, 217, 1},
  };
  for (const auto &run : runs) {
    std::vector<std::string> args = {"overlay", "logo.png",  "--at",
                                     "4,-1",    "--out-dir", "out"};
    args.insert(args.end(), run.options.begin(), run.options.end());
    args.insert(args.end(), std::begin(bottoms), std::end(bottoms));
    const Outcome outcome = run_tool(args, folder_);
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.err, "byteblend: 3 files written, 0 failed\n");
    for (const char *bottom : bottoms) {
      const std::string name = fs::path(bottom).filename().string();
      const auto written = byteblend::tool::read_image(file("out") / name);
      const auto expected = testing_support::expected_laying(
          image_of(logo), byteblend::tool::read_image(file(bottom)),
          {static_cast<int>(byteblend::Mode::overlay), run.over,
           static_cast<std::uint8_t>(run.opacity), 4, -1});
      EXPECT_EQ(written.rgb, expected.rgb) << name << " " << run.options[0];
      EXPECT_EQ(written.alpha, expected.alpha) << name << " " << run.options[0];
    }
  }
}

TEST_F(ToolTest, FolderRunWritesTheGoodFilesAndReportsTheBrokenOnes) {
  const auto rgb = [](std::uint32_t w, std::uint32_t h, unsigned seed) {
    return testing_support::make_png({"RGB", Layout::rgb, 8}, w, h, seed);
  };
  const auto top = rgb(12, 8, 1);
  put("top.png", top.file);
  fs::create_directory(file("in"));
  std::vector<testing_support::Fixture> good;
  for (const char *name : {"in/good0.png", "in/good1.png", "in/good2.png",
                           "in/good3.png", "in/good4.png", "in/good5.png"}) {
    good.push_back(rgb(12, 8, static_cast<unsigned>(10 + good.size())));
    put(name, good.back().file);
  }
  const auto jpeg = testing_support::make_jpeg({"baseline"}, 12, 8, 20);
  put("in/photo.JPG", jpeg);
  put("in/broken.png", {'n', 'o', 'p', 'e'});
  put("in/small.png", rgb(3, 3, 21).file);
  put("in/picture.gif", rgb(12, 8, 22).file);
  const std::vector<std::string> args = {
      "screen",         "top.png",       "--out-dir",      "out/new",
      "in/good0.png",   "in/broken.png", "in/good1.png",   "in/photo.JPG",
      "in/small.png",   "in/good2.png",  "in/picture.gif", "in/good3.png",
      "in/missing.png", "in/good4.png",  "in/good5.png"};
  const Outcome outcome = run_tool(args, folder_);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "");
  // Without a terminal: no bar, only whole lines.
  EXPECT_EQ(outcome.err.find('\r'), std::string::npos) << outcome.err;
  std::vector<std::string> lines;
  std::istringstream stream(outcome.err);
  for (std::string line; std::getline(stream, line);) {
    lines.push_back(line);
  }
  ASSERT_EQ(lines.size(), 5U) << outcome.err;
  EXPECT_EQ(lines.back(), "byteblend: 7 files written, 4 failed");
  std::sort(lines.begin(), lines.end() - 1);
  EXPECT_EQ(lines[0], "byteblend: in/broken.png: not a PNG or JPEG file");
  EXPECT_EQ(lines[1], "byteblend: in/missing.png: cannot read: No such file "
                      "or directory");
  EXPECT_EQ(lines[2].rfind("byteblend: in/small.png: 3x3 pixels, but "
                           "top.png has 12x8",
                           0),
            0U)
      << lines[2];
  EXPECT_EQ(lines[3], "byteblend: out/new/picture.gif: cannot tell the output "
                      "format; the name must end in .png, .jpg or .jpeg");

  std::vector<std::string> written = extra_files({}, file("out/new"));
  std::sort(written.begin(), written.end());
  EXPECT_EQ(written, (std::vector<std::string>{
                         "good0.png", "good1.png", "good2.png", "good3.png",
                         "good4.png", "good5.png", "photo.JPG"}));
  const auto &screen = reference::kernel_named("ScreenBlend");
  for (std::size_t i = 0; i < good.size(); ++i) {
    const fs::path path =
        file("out/new") / written[i]; // good0.png ... good5.png, sorted
    EXPECT_EQ(written_rgb(path), expected_rgb(screen, top.rgb, good[i].rgb))
        << path;
  }
  const std::string photo = slurp(file("out/new/photo.JPG"));
  EXPECT_EQ(photo.substr(0, 3), "\xFF\xD8\xFF");
}

TEST_F(ToolTest, FolderRunOfGoodFilesSucceeds) {
  const auto top = testing_support::make_png({"RGB", Layout::rgb, 8}, 6, 5, 1);
  put("top.png", top.file);
  put("b.png",
      testing_support::make_png({"RGB", Layout::rgb, 8}, 9, 9, 2).file);
  // --at works in a folder run as it does alone; the output folder exists.
  fs::create_directory(file("out"));
  const Outcome outcome = run_tool(
      {"darken", "top.png", "b.png", "--at", "-1,7", "--out-dir=out"}, folder_);
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.err, "byteblend: 1 file written, 0 failed\n");
  EXPECT_TRUE(fs::exists(file("out/b.png")));
}

// Runs the tool with stdout and stderr on a new pseudo-terminal; returns
// what the terminal showed and the exit status.
// The terminal's TERM and width (0: the terminal does not say).
struct TerminalKind {
  const char *term = "xterm";
  unsigned short columns = 0;
};

Outcome run_tool_on_terminal(const std::vector<std::string> &args,
                             const fs::path &folder, TerminalKind kind = {}) {
  int terminal = -1;
  winsize size{};
  size.ws_col = kind.columns;
  size.ws_row = kind.columns > 0 ? 24 : 0;
  const pid_t child = forkpty(&terminal, nullptr, nullptr, &size);
  if (child == 0) {
    if (chdir(folder.c_str()) != 0 || setenv("TERM", kind.term, 1) != 0) {
      _exit(127);
    }
    exec_program(tool_command(args));
  }
  Outcome outcome;
  char block[4096];
  for (;;) {
    const ssize_t got = read(terminal, block, sizeof block);
    if (got <= 0) {
      break; // EIO once the child has gone and closed its side
    }
    outcome.err.append(block, static_cast<std::size_t>(got));
  }
  close(terminal);
  int status = 0;
  waitpid(child, &status, 0);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  return outcome;
}

TEST_F(ToolTest, FolderRunShowsAProgressBarOnATerminal) {
  const auto top = testing_support::make_png({"RGB", Layout::rgb, 8}, 8, 8, 1);
  put("top.png", top.file);
  std::vector<std::string> args = {"addition", "top.png", "--out-dir", "out"};
  for (const char *name : {"b0.png", "b1.png", "b2.png", "b3.png", "b4.png"}) {
    put(name, testing_support::make_png({"RGB", Layout::rgb, 8}, 8, 8,
                                        static_cast<unsigned>(args.size()))
                  .file);
    args.emplace_back(name);
  }
  args.emplace_back("none.png");
  const Outcome outcome = run_tool_on_terminal(args, folder_);
  EXPECT_EQ(outcome.status, 1) << outcome.err;
  const std::string &shown = outcome.err;
  // The bar is redrawn in place, from nothing done to all done, with the
  // rate and the time left; the failure and the sum are whole lines.
  EXPECT_NE(shown.find("\r[..............................]  0/6"),
            std::string::npos)
      << shown;
  EXPECT_NE(shown.find("\r[##############################]  6/6  "),
            std::string::npos)
      << shown;
  EXPECT_NE(shown.find(" files/s  0:00 left"), std::string::npos) << shown;
  EXPECT_NE(shown.find("byteblend: none.png: cannot read: No such file or "
                       "directory\r\n"),
            std::string::npos)
      << shown;
  const std::string last = "\r\033[Kbyteblend: 5 files written, 1 failed\r\n";
  ASSERT_GE(shown.size(), last.size());
  EXPECT_EQ(shown.substr(shown.size() - last.size()), last) << shown;
}

TEST_F(ToolTest, ProgressBarFitsNarrowAndDumbTerminals) {
  const auto top = testing_support::make_png({"RGB", Layout::rgb, 8}, 8, 8, 1);
  put("top.png", top.file);
  std::vector<std::string> args = {"addition", "top.png", "--out-dir", "out"};
  for (const char *name : {"b0.png", "b1.png", "b2.png", "b3.png"}) {
    put(name, top.file);
    args.emplace_back(name);
  }
  const struct {
    TerminalKind kind;
    bool escapes;
  } cases[] = {
      {{"xterm", 40}, true}, {{"xterm", 12}, true}, {{"dumb", 0}, false}};
  for (const auto &c : cases) {
    const std::string what =
        std::string(c.kind.term) + ", " + std::to_string(c.kind.columns);
    const Outcome outcome = run_tool_on_terminal(args, folder_, c.kind);
    EXPECT_EQ(outcome.status, 0) << what << ": " << outcome.err;
    EXPECT_EQ(outcome.err.find("\033[K") != std::string::npos, c.escapes)
        << what << ": " << outcome.err;
    const std::size_t width = c.kind.columns > 0 ? c.kind.columns : 80;
    // Each redraw of the bar stays on one terminal line.
    std::istringstream redraws(outcome.err);
    for (std::string piece; std::getline(redraws, piece, '\r');) {
      for (std::size_t at = piece.find("\033[K"); at != std::string::npos;
           at = piece.find("\033[K")) {
        piece.erase(at, 3);
      }
      if (piece.starts_with("byteblend:")) {
        continue; // the summary: a whole line of its own
      }
      EXPECT_LT(piece.size(), width) << what << ": " << piece;
    }
    EXPECT_NE(outcome.err.find("4/4"), std::string::npos) << what;
  }
}

TEST_F(ToolTest, SignedQualityAndBareExtensionsAreOutputs) {
  const auto image =
      testing_support::make_png({"RGB", Layout::rgb, 8}, 8, 8, 1);
  put("top.png", image.file);
  const struct {
    std::vector<std::string> args;
    const char *out;
    std::string signature;
  } cases[] = {
      {{"--quality", "+50", "screen", "top.png", "top.png", "out.jpg"},
       "out.jpg",
       "\xFF\xD8\xFF"},
      {{"--quality=+100", "screen", "top.png", "top.png", "q.JPEG"},
       "q.JPEG",
       "\xFF\xD8\xFF"},
      {{"screen", "top.png", "top.png", ".png"}, ".png", "\x89PNG"},
      {{"screen", "top.png", "top.png", ".jpg"}, ".jpg", "\xFF\xD8\xFF"},
  };
  for (const auto &c : cases) {
    const Outcome outcome = run_tool(c.args, folder_);
    EXPECT_EQ(outcome.status, 0) << c.out << ": " << outcome.err;
    EXPECT_EQ(slurp(file(c.out)).substr(0, c.signature.size()), c.signature)
        << c.out;
  }
}

// "b7.png" and the like. (Appended: g++ 12 warns wrongly about "b" + ...)
std::string numbered(const char *stem, int i) {
  std::string name = stem;
  name += std::to_string(i);
  name += ".png";
  return name;
}

// Whether any ".byteblend-" temporary file is in `where`.
bool holds_temporary(const fs::path &where) {
  return std::any_of(fs::directory_iterator(where), fs::directory_iterator(),
                     [](const fs::directory_entry &entry) {
                       return entry.path().filename().string().rfind(
                                  ".byteblend-", 0) == 0;
                     });
}

struct SameFileCase {
  std::string what;
  std::vector<std::string> args;
  std::vector<std::string> lines; // stderr, sorted
};

TEST_F(ToolTest, OutputThatIsAnInputIsRefusedAndTheRestWritten) {
  const auto top = testing_support::make_png({"RGB", Layout::rgb, 8}, 6, 4, 1);
  const auto bottom =
      testing_support::make_png({"RGB", Layout::rgb, 8}, 6, 4, 2);
  fs::create_directory(file("g"));
  const std::vector<std::string> inputs = {"top.png",      "bottom.png",
                                           "third.png",    "g/top.png",
                                           "g/bottom.png", "g/other.png"};
  const auto put_inputs = [&] {
    for (const std::string &name : inputs) {
      put(name, name.find("top") != std::string::npos ? top.file : bottom.file);
    }
    fs::remove(file("hard.png"));
    fs::create_hard_link(file("bottom.png"), file("hard.png"));
  };
  fs::create_symlink("top.png", file("link.png"));
  const std::string never = " (an input is never written over)";
  const SameFileCase cases[] = {
      {"OUT is TOP",
       {"screen", "top.png", "bottom.png", "top.png"},
       {"byteblend: top.png: is the same file as top.png" + never}},
      {"OUT is BOTTOM by another name",
       {"screen", "top.png", "bottom.png", "./bottom.png"},
       {"byteblend: ./bottom.png: is the same file as bottom.png" + never}},
      {"OUT is a hard link to BOTTOM",
       {"screen", "top.png", "bottom.png", "hard.png"},
       {"byteblend: hard.png: is the same file as bottom.png" + never}},
      {"OUT is a symbolic link to TOP",
       {"screen", "top.png", "bottom.png", "link.png"},
       {"byteblend: link.png: is the same file as top.png" + never}},
      {"folder run into the inputs' folder",
       {"screen", "g/top.png", "--out-dir", "g/../g", "g/bottom.png",
        "g/top.png", "third.png"},
       {"byteblend: 1 file written, 2 failed",
        "byteblend: g/../g/bottom.png: is the same file as g/bottom.png" +
            never,
        "byteblend: g/../g/top.png: is the same file as g/top.png" + never}},
      {"folder run onto another input of the run",
       {"screen", "top.png", "--out-dir", "g", "g/other.png", "missing.png"},
       {"byteblend: 0 files written, 2 failed",
        "byteblend: g/other.png: is the same file as g/other.png" + never,
        "byteblend: missing.png: cannot read: No such file or directory"}},
  };
  for (const SameFileCase &c : cases) {
    put_inputs();
    const Outcome outcome = run_tool(c.args, folder_);
    EXPECT_EQ(outcome.status, 1) << c.what << ": " << outcome.err;
    std::vector<std::string> lines;
    std::istringstream stream(outcome.err);
    for (std::string line; std::getline(stream, line);) {
      lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, c.lines) << c.what;
    for (const std::string &name : inputs) {
      const auto &expected =
          name.find("top") != std::string::npos ? top.file : bottom.file;
      EXPECT_EQ(slurp(file(name)),
                std::string(expected.begin(), expected.end()))
          << c.what << ": " << name << " was written over";
    }
    EXPECT_TRUE(fs::is_symlink(file("link.png"))) << c.what;
  }
  // The one good file of the folder run into the inputs' folder.
  EXPECT_EQ(written_rgb(file("g/third.png")),
            expected_rgb(reference::kernel_named("ScreenBlend"), top.rgb,
                         bottom.rgb));
}

struct LinkCase {
  std::string what;
  std::vector<std::pair<std::string, std::string>> links; // name, target
  std::string out;    // the first link, given as OUT
  std::string target; // the file that must hold the blend
};

TEST_F(ToolTest, OutputThroughSymbolicLinksReplacesTheirTarget) {
  const auto top = testing_support::make_png({"RGB", Layout::rgb, 8}, 5, 3, 1);
  const auto bottom =
      testing_support::make_png({"RGB", Layout::rgb, 8}, 5, 3, 2);
  put("top.png", top.file);
  put("bottom.png", bottom.file);
  fs::create_directory(file("d"));
  fs::create_directory(file("t"));
  const LinkCase cases[] = {
      {"to a file beside it", {{"l.png", "real.png"}}, "l.png", "real.png"},
      {"relative to the link's own folder",
       {{"d/l.png", "../t/real.png"}},
       "d/l.png",
       "t/real.png"},
      {"a chain of links",
       {{"c1.png", "d/c2.png"}, {"d/c2.png", "../t/chained.png"}},
       "c1.png",
       "t/chained.png"},
      {"absolute", {{"abs.png", file("t/abs.png")}}, "abs.png", "t/abs.png"},
      {"dangling: its target is made",
       {{"d/dangling.png", "new.png"}},
       "d/dangling.png",
       "d/new.png"},
  };
  const auto blended =
      expected_rgb(reference::kernel_named("ScreenBlend"), top.rgb, bottom.rgb);
  for (const LinkCase &c : cases) {
    for (const auto &[name, target] : c.links) {
      fs::create_symlink(target, file(name));
    }
    if (c.what != "dangling: its target is made") {
      put(c.target, {'o', 'l', 'd'});
      fs::permissions(file(c.target), fs::perms(0640));
    }
    const Outcome outcome =
        run_tool({"screen", "top.png", "bottom.png", c.out}, folder_);
    ASSERT_EQ(outcome.status, 0) << c.what << ": " << outcome.err;
    for (const auto &[name, target] : c.links) {
      ASSERT_TRUE(fs::is_symlink(file(name))) << c.what << ": " << name;
      EXPECT_EQ(fs::read_symlink(file(name)), target) << c.what;
    }
    EXPECT_EQ(written_rgb(file(c.target)), blended) << c.what;
    if (c.what != "dangling: its target is made") {
      EXPECT_EQ(fs::status(file(c.target)).permissions(), fs::perms(0640))
          << c.what;
    }
    for (const char *where : {".", "d", "t"}) {
      EXPECT_FALSE(holds_temporary(file(where))) << c.what;
    }
  }
}

TEST_F(ToolTest, StandardOutputAndOpenDescriptorsGetPngInPlace) {
  const auto top = testing_support::make_png({"RGB", Layout::rgb, 8}, 5, 3, 1);
  const auto bottom =
      testing_support::make_png({"RGB", Layout::rgb, 8}, 5, 3, 2);
  put("top.png", top.file);
  put("bottom.png", bottom.file);
  ASSERT_EQ(
      run_tool({"screen", "top.png", "bottom.png", "out.png"}, folder_).status,
      0);
  const std::string png = slurp(file("out.png"));
  // Standard output is a regular file opened for appending, as `>>` opens
  // it: what was there stays, the image follows, the file is not replaced.
  const fs::path stream = file("stream");
  const auto onto_stream = [&stream] {
    const int fd = open(stream.c_str(), O_WRONLY | O_APPEND);
    dup2(fd, 1);
  };
  for (const char *out : {"-", "/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"}) {
    put("stream", {'h', 'e', 'a', 'd'});
    struct stat was {};
    stat(stream.c_str(), &was);
    const Outcome outcome = run_tool({"screen", "top.png", "bottom.png", out},
                                     folder_, onto_stream);
    EXPECT_EQ(outcome.status, 0) << out << ": " << outcome.err;
    EXPECT_EQ(outcome.err, "") << out;
    EXPECT_EQ(slurp(stream), "head" + png) << out;
    struct stat is {};
    stat(stream.c_str(), &is);
    EXPECT_EQ(is.st_ino, was.st_ino) << out;
    EXPECT_FALSE(holds_temporary(folder_)) << out;
  }
}

TEST_F(ToolTest, ReplacedFileKeepsItsOwnerGroupAndMode) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "only root may give files to other users";
  }
  const auto top = testing_support::make_png({"RGB", Layout::rgb, 8}, 5, 3, 1);
  put("top.png", top.file);
  const struct {
    uid_t owner;
    gid_t group;
    unsigned mode;
  } cases[] = {{12345, 12345, 0600}, {0, 12345, 0640}, {12345, 0, 0604}};
  for (const auto &c : cases) {
    put("out.png", {'o', 'l', 'd'});
    ASSERT_EQ(chown(file("out.png").c_str(), c.owner, c.group), 0);
    ASSERT_EQ(chmod(file("out.png").c_str(), c.mode), 0);
    const Outcome outcome =
        run_tool({"screen", "top.png", "top.png", "out.png"}, folder_);
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    struct stat status {};
    ASSERT_EQ(stat(file("out.png").c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, c.owner) << c.mode;
    EXPECT_EQ(status.st_gid, c.group) << c.mode;
    EXPECT_EQ(status.st_mode & 07777, c.mode);
    EXPECT_NE(slurp(file("out.png")), "old");
  }
}

// Runs the tool on `args` under ptrace, stopping it as it enters fsync of
// its temporary file; there `signal` is sent and the tool let go. Returns
// the wait status at its end, or -1 where it cannot be traced.
int signal_during_write(const std::vector<std::string> &args,
                        const fs::path &folder, const fs::path &out_folder,
                        int signal, bool &temporary_seen) {
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(folder.c_str()) != 0 ||
        ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) {
      _exit(126);
    }
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    raise(SIGSTOP);
    exec_program(tool_command(args));
  }
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFSTOPPED(status)) {
    return -1;
  }
  ptrace(PTRACE_SETOPTIONS, child, nullptr,
         PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
  int pass = 0;
  for (;;) {
    ptrace(PTRACE_SYSCALL, child, nullptr, pass);
    pass = 0;
    waitpid(child, &status, 0);
    if (!WIFSTOPPED(status)) {
      return status; // ended without an fsync
    }
    if (WSTOPSIG(status) == (SIGTRAP | 0x80)) {
      user_regs_struct registers{};
      ptrace(PTRACE_GETREGS, child, nullptr, &registers);
      // On entry the kernel has not yet set the result (-ENOSYS).
      if (registers.orig_rax == SYS_fsync &&
          static_cast<long>(registers.rax) == -ENOSYS) {
        break;
      }
    } else if (WSTOPSIG(status) != SIGTRAP) {
      pass = WSTOPSIG(status);
    }
  }
  temporary_seen = holds_temporary(out_folder);
  kill(child, signal);
  ptrace(PTRACE_DETACH, child, nullptr, 0);
  waitpid(child, &status, 0);
  return status;
}

TEST_F(ToolTest, SignalDuringAWriteRemovesTheTemporaryFile) {
  const auto top =
      testing_support::make_png({"RGB", Layout::rgb, 8}, 64, 64, 1);
  put("top.png", top.file);
  const struct {
    std::vector<std::string> args;
    const char *out_folder;
  } runs[] = {
      {{"screen", "top.png", "top.png", "out.png"}, "."},
      {{"screen", "top.png", "--out-dir", "dir", "top.png"}, "dir"},
  };
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    for (const auto &run : runs) {
      const std::string what =
          std::string(strsignal(signal)) + ", into " + run.out_folder;
      bool seen = false;
      const int status = signal_during_write(
          run.args, folder_, file(run.out_folder), signal, seen);
      if (status == -1) {
        GTEST_SKIP() << "cannot trace the tool here";
      }
      EXPECT_TRUE(seen) << what;
      ASSERT_TRUE(WIFSIGNALED(status)) << what << ": status " << status;
      EXPECT_EQ(WTERMSIG(status), signal) << what;
      EXPECT_FALSE(holds_temporary(file(run.out_folder))) << what;
    }
  }
}

TEST_F(ToolTest, ClosedStandardErrorNeverReceivesAnOutputFile) {
  const auto top =
      testing_support::make_png({"RGB", Layout::rgb, 8}, 48, 48, 1);
  put("top.png", top.file);
  std::vector<std::string> args = {"screen", "top.png", "--out-dir", "out"};
  for (int i = 0; i < 40; ++i) {
    const std::string name = numbered("b", i);
    put(name, testing_support::make_png({"RGB", Layout::rgb, 8}, 48, 48,
                                        static_cast<unsigned>(i + 2))
                  .file);
    args.push_back(name);
    args.push_back(numbered("missing", i));
  }
  const Outcome outcome = run_tool(args, folder_, [] { close(2); });
  EXPECT_EQ(outcome.status, 1);
  args[3] = "reference";
  ASSERT_EQ(run_tool(args, folder_).status, 1);
  for (int i = 0; i < 40; ++i) {
    const std::string name = numbered("b", i);
    // Compared whole: an error line may lie anywhere in a damaged file.
    EXPECT_TRUE(slurp(file("out") / name) == slurp(file("reference") / name))
        << name << " differs from the file written with stderr open";
  }
}

TEST_F(ToolTest, FolderRunGoesOnWhenNoThreadCanStart) {
  const auto top = testing_support::make_png({"RGB", Layout::rgb, 8}, 8, 8, 1);
  put("top.png", top.file);
  std::vector<std::string> args = {"screen", "top.png", "--out-dir", "out"};
  for (int i = 0; i < 6; ++i) {
    args.push_back(numbered("b", i));
    put(args.back(), top.file);
  }
  // One process for the tool's user: no thread can start. Root is not held
  // to the limit, so as root the tool runs as another user, who may write
  // in the folder.
  fs::permissions(folder_, fs::perms::all);
  const Outcome outcome = run_tool(args, folder_, [] {
    // LeakSanitizer's check at exit needs a thread of its own.
    const char *options = getenv("ASAN_OPTIONS");
    setenv("ASAN_OPTIONS",
           (std::string(options != nullptr ? options : "") + ":detect_leaks=0")
               .c_str(),
           1);
    const rlimit one{1, 1};
    setrlimit(RLIMIT_NPROC, &one);
    if (geteuid() == 0 && (setgid(12345) != 0 || setuid(12345) != 0)) {
      _exit(125);
    }
  });
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.err, "byteblend: 6 files written, 0 failed\n");
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(
        written_rgb(file("out") / numbered("b", i)),
        expected_rgb(reference::kernel_named("ScreenBlend"), top.rgb, top.rgb));
  }
}

struct MessageCase {
  std::string what;
  std::vector<std::string> args;
  int status;
  std::string err;
};

TEST_F(ToolTest, FoldersAndLinksToFoldersAreNamedRightly) {
  const auto top = testing_support::make_png({"RGB", Layout::rgb, 8}, 4, 4, 1);
  put("top.png", top.file);
  fs::create_directory(file("g"));
  fs::create_symlink("made/by/link", file("to-missing"));
  fs::create_symlink("gallery", file("demo-link"));
  const MessageCase cases[] = {
      {"demo into an empty name",
       {"demo", ""},
       2,
       "byteblend: demo needs a folder name, not an empty one\n"},
      {"a folder as BOTTOM",
       {"screen", "top.png", "--out-dir", "out", "g/", "top.png"},
       1,
       "byteblend: g/: is a folder\nbyteblend: 1 file written, 1 failed\n"},
      {"a folder without a slash as BOTTOM",
       {"screen", "top.png", "--out-dir", "out", "g"},
       1,
       "byteblend: g: is a folder\nbyteblend: 0 files written, 1 failed\n"},
      {"--out-dir a link to a missing folder",
       {"screen", "top.png", "--out-dir", "to-missing", "top.png"},
       0,
       "byteblend: 1 file written, 0 failed\n"},
  };
  for (const MessageCase &c : cases) {
    const Outcome outcome = run_tool(c.args, folder_);
    EXPECT_EQ(outcome.status, c.status) << c.what;
    EXPECT_EQ(outcome.err, c.err) << c.what;
  }
  EXPECT_TRUE(fs::is_regular_file(file("made/by/link/top.png")));
  const Outcome demo = run_tool({"demo", "demo-link"}, folder_);
  EXPECT_EQ(demo.status, 0) << demo.err;
  EXPECT_TRUE(fs::is_regular_file(file("gallery/index.html")));
}

} // namespace
