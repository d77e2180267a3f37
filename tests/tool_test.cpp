// The byteblend tool as a user runs it: each mode on every kind of input
// writes exactly the kernel's bytes; each bad input gives one line naming the
// file and the reason, its exit status, and no output file; demo writes its
// gallery.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "jpeg_fixtures.hpp"
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

// Runs a program (found on PATH) in `folder`, collecting its output; with
// at most `address_space` bytes of address space, if given.
Outcome run_program(const std::vector<std::string> &args,
                    const fs::path &folder,
                    rlim_t address_space = RLIM_INFINITY) {
  const fs::path out = folder / ".stdout";
  const fs::path err = folder / ".stderr";
  const pid_t child = fork();
  if (child == 0) {
    const rlimit limit{address_space, address_space};
    if (chdir(folder.c_str()) != 0 || setrlimit(RLIMIT_AS, &limit) != 0) {
      _exit(127);
    }
    const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(o, 1);
    dup2(e, 2);
    std::vector<char *> argv;
    argv.reserve(args.size() + 1);
    for (const std::string &arg : args) {
      argv.push_back(const_cast<char *>(arg.c_str()));
    }
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  Outcome outcome{WIFEXITED(status) ? WEXITSTATUS(status) : 128, slurp(out),
                  slurp(err)};
  fs::remove(out);
  fs::remove(err);
  return outcome;
}

Outcome run_tool(std::vector<std::string> args, const fs::path &folder,
                 rlim_t address_space = RLIM_INFINITY) {
  args.insert(args.begin(), BYTEBLEND_TOOL);
  return run_program(args, folder, address_space);
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

struct Pairing {
  PngFormat top, bottom;
};

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
      const auto written = byteblend::tool::read_png(file("out.png"));
      EXPECT_EQ(written.width, 23U) << what;
      EXPECT_EQ(written.height, 11U) << what;
      EXPECT_EQ(written.rgb, expected_rgb(reference::kernel_named(named.kernel),
                                          top.rgb, bottom.rgb))
          << what;
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
        "addition, subtraction, multiplication, screen, overlay, lighten, "
        "darken, color-dodge, color-burn, opacity, red-channel, "
        "green-channel, blue-channel"}},
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
      {"--quality 0",
       {"--quality", "0", "screen", "top.png", "bottom.png", "out.jpg"},
       2,
       {"--quality '0' is not a whole number from 1 to 100"}},
      {"--quality 101",
       {"--quality=101", "screen", "top.png", "bottom.png", "out.jpg"},
       2,
       {"--quality '101'"}},
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
    const Outcome outcome = run_tool({"screen", "top.png", c.bottom, "out.png"},
                                     folder_, kAddressSpace);
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
  EXPECT_EQ(list.out, names);
  const Outcome help = run_tool({"--help"}, folder_);
  EXPECT_EQ(help.status, 0);
  for (const char *part :
       {"byteblend [--at X,Y] [--quality N] MODE TOP BOTTOM OUT",
        "--out-dir DIR MODE TOP BOTTOM...", "EXIF\norientation is not applied",
        "CMYK files are refused", "at most 100 scans"}) {
    EXPECT_NE(help.out.find(part), std::string::npos) << part;
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

    const auto top = byteblend::tool::read_png(gallery / "top.png");
    const auto bottom = byteblend::tool::read_png(gallery / "bottom.png");
    EXPECT_EQ(top.width, bottom.width);
    EXPECT_EQ(top.height, bottom.height);
    EXPECT_NE(top.rgb, bottom.rgb);
    const std::string page = slurp(gallery / "index.html");
    EXPECT_NE(page.find("src=\"top.png\""), std::string::npos);
    EXPECT_NE(page.find("src=\"bottom.png\""), std::string::npos);
    std::size_t pngs = 2;
    for (const auto &named : testing_support::kNamedModes) {
      const std::string name(named.name);
      const auto blended = byteblend::tool::read_png(gallery / (name + ".png"));
      ++pngs;
      EXPECT_EQ(blended.rgb, expected_rgb(reference::kernel_named(named.kernel),
                                          top.rgb, bottom.rgb))
          << name;
      EXPECT_NE(page.find("src=\"" + name + ".png\""), std::string::npos)
          << name;
      EXPECT_NE(page.find("<b>" + name + "</b>"), std::string::npos) << name;
    }
    std::size_t files = 0;
    for (const auto &entry : fs::directory_iterator(gallery)) {
      files += entry.path().extension() == ".png" ? 1 : 0;
    }
    EXPECT_EQ(files, pngs);
    EXPECT_EQ(pngs, 15U);
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
      const auto written = byteblend::tool::read_png(file("out.png"));
      EXPECT_EQ(written.width, 9U) << what;
      EXPECT_EQ(written.height, 7U) << what;
      EXPECT_EQ(written.rgb, expected_at(reference::kernel_named(named.kernel),
                                         top, bottom, c.x, c.y))
          << what;
      EXPECT_EQ(written.alpha, bottom.alpha) << what;
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
Outcome run_tool_on_terminal(const std::vector<std::string> &args,
                             const fs::path &folder) {
  int terminal = -1;
  const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
  if (child == 0) {
    if (chdir(folder.c_str()) != 0) {
      _exit(127);
    }
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(BYTEBLEND_TOOL));
    for (const std::string &arg : args) {
      argv.push_back(const_cast<char *>(arg.c_str()));
    }
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
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

} // namespace
