// SPDX-License-Identifier: MIT
// byteblend for C++20: the thirteen blend modes as an enum, their names, and
// one blend() for arrays of any size. Header-only; it calls the C functions
// of byteblend.h, so link libbyteblend as for C.
//
//   std::vector<std::uint8_t> out(top.size());
//   byteblend::blend(byteblend::Mode::screen, top, bottom, out);
#ifndef BYTEBLEND_HPP
#define BYTEBLEND_HPP

// Without C++20 the first error would be about std::span; say why instead,
// and only that.
#if __cplusplus < 202002L
#error "byteblend.hpp needs C++20 (compile with -std=c++20 or later)"
#else

#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "byteblend.h"

namespace byteblend {

// The modes, in the library's order: that of the C functions in byteblend.h.
enum class Mode {
  addition,
  subtraction,
  multiplication,
  screen,
  red_channel,
  green_channel,
  blue_channel,
  opacity,
  overlay,
  lighten,
  darken,
  color_dodge,
  color_burn,
};

// The C kernel of a mode.
using KernelFunction = void(std::int32_t length, const std::uint8_t *top,
                            const std::uint8_t *bottom, std::uint8_t *result);

// What the library knows of one mode.
struct ModeFacts {
  Mode mode;
  // What users type: "addition", ..., "color-dodge", ..., "blue-channel".
  std::string_view name;
  KernelFunction *kernel;
  // For a channel mode, the value of each packed RGB pixel it blends (0 red,
  // 1 green, 2 blue): its kernel steps by 3 bytes from that index and leaves
  // the other two alone. None for the modes that blend every byte.
  std::optional<std::size_t> channel;
};

// Every mode, one row each, in the order of the enum. name(), kernel(),
// is_channel_mode() and all_modes are read from here, and so are the mode
// names of the tool and of the Python package: a new mode is a new
// enumerator and a new row.
inline constexpr auto mode_table = std::to_array<ModeFacts>({
    {Mode::addition, "addition", AdditionBlend, std::nullopt},
    {Mode::subtraction, "subtraction", SubtractionBlend, std::nullopt},
    {Mode::multiplication, "multiplication", MultiplicationBlend, std::nullopt},
    {Mode::screen, "screen", ScreenBlend, std::nullopt},
    {Mode::red_channel, "red-channel", RedChannelBlend, 0},
    {Mode::green_channel, "green-channel", GreenChannelBlend, 1},
    {Mode::blue_channel, "blue-channel", BlueChannelBlend, 2},
    {Mode::opacity, "opacity", OpacityBlend, std::nullopt},
    {Mode::overlay, "overlay", OverlayBlend, std::nullopt},
    {Mode::lighten, "lighten", LightenBlend, std::nullopt},
    {Mode::darken, "darken", DarkenBlend, std::nullopt},
    {Mode::color_dodge, "color-dodge", ColorDodgeBlend, std::nullopt},
    {Mode::color_burn, "color-burn", ColorBurnBlend, std::nullopt},
});

namespace detail {

// Whether each row of mode_table is at the index of its mode's value, where
// facts_of() finds it.
constexpr bool rows_follow_the_enum() {
  for (std::size_t i = 0; i < mode_table.size(); ++i) {
    if (static_cast<std::size_t>(mode_table[i].mode) != i) {
      return false;
    }
  }
  return true;
}
static_assert(rows_follow_the_enum(),
              "mode_table must list the modes in the order of the enum");

constexpr std::array<Mode, mode_table.size()> modes_of_the_table() {
  std::array<Mode, mode_table.size()> modes{};
  for (std::size_t i = 0; i < modes.size(); ++i) {
    modes[i] = mode_table[i].mode;
  }
  return modes;
}

} // namespace detail

// Every mode, in the order of the enum.
inline constexpr std::array<Mode, mode_table.size()> all_modes =
    detail::modes_of_the_table();

namespace detail {

// The mode's row; none for a value that names no mode.
constexpr const ModeFacts *facts_of(Mode mode) {
  const auto index = static_cast<std::size_t>(mode);
  return index < mode_table.size() ? &mode_table[index] : nullptr;
}

} // namespace detail

// The mode's name: "addition", ..., "color-dodge", ..., "blue-channel".
constexpr std::string_view name(Mode mode) {
  const ModeFacts *const facts = detail::facts_of(mode);
  return facts != nullptr ? facts->name : "unknown";
}

// The mode with this name, ignoring ASCII case; no mode for any other text.
constexpr std::optional<Mode> parse_mode(std::string_view text) {
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  for (const Mode mode : all_modes) {
    const std::string_view candidate = name(mode);
    if (candidate.size() != text.size()) {
      continue;
    }
    bool same = true;
    for (std::size_t i = 0; i < text.size() && same; ++i) {
      same = lower(text[i]) == candidate[i];
    }
    if (same) {
      return mode;
    }
  }
  return std::nullopt;
}

// The C kernel of a mode.
constexpr KernelFunction *kernel(Mode mode) {
  const ModeFacts *const facts = detail::facts_of(mode);
  return facts != nullptr ? facts->kernel : nullptr;
}

// The channel of packed RGB that a channel mode blends (0 red, 1 green,
// 2 blue); none for the other modes.
constexpr std::optional<std::size_t> channel_of(Mode mode) {
  const ModeFacts *const facts = detail::facts_of(mode);
  return facts != nullptr ? facts->channel : std::nullopt;
}

// Whether the mode blends one channel of packed RGB pixels (and so wants
// arrays of whole pixels) rather than every byte.
constexpr bool is_channel_mode(Mode mode) {
  return channel_of(mode).has_value();
}

// The kernels take a signed 32-bit length, so blend() hands them the arrays
// in pieces of at most this many bytes: 768 MiB, a multiple of 3 so that a
// piece always starts on a pixel and the channel modes stay on their channel.
inline constexpr std::size_t default_chunk = std::size_t{3} << 28;

// How the top's alpha and the bottom's alpha combine in a composite
// (byteblend_layers.hpp). Arrays and images without alpha give the same bytes
// for both.
enum class Operator {
  atop, // the top paints only where the bottom is; result alpha is bottom's
  over, // source-over, with the mode as its blend function
};

// How blend() runs: `blend(mode, top, bottom, result, {.threads = 0})`.
// blend() takes no bare number, so `{}` is the default Options and `{4}` is
// four threads.
struct Options {
  // Threads to blend on: 1 keeps the work on the calling thread, 0 means one
  // per core this process may use (usable_cores()). Never more threads than
  // that, nor than pieces of smallest_piece(mode) bytes, are used, so a
  // larger count is clamped, and arrays below threaded_from(mode) stay on the
  // calling thread. The bytes are the same for every count.
  unsigned threads = 1;
  // Each kernel call takes at most this many bytes: a positive multiple of 3
  // below 2^31. Set it by name, `{.chunk = 3 * 1024}`.
  std::size_t chunk = default_chunk;
  // How much of the blended top shows, from 0 (none: the bottom) to 1 (all
  // of it), applied as the byte round(opacity * 255) (opacity_byte()). The
  // blend() of this header and of byteblend_image.hpp take only an opacity
  // whose byte is 255; any other needs the layers library
  // (byteblend_layers.hpp: blend_with_opacity(), composite()).
  double opacity = 1;
  // The compositing of byteblend_layers.hpp's composite().
  Operator blend_operator = Operator::atop;
};

// The opacity byte of an opacity in [0, 1]: round(opacity * 255), halves up
// (0.5 gives 128). Throws std::invalid_argument for NaN and values outside
// [0, 1], which no byte stands for.
inline std::uint8_t opacity_byte(double opacity) {
  if (!(opacity >= 0 && opacity <= 1)) {
    throw std::invalid_argument("byteblend: an opacity is between 0 and 1, "
                                "not " +
                                std::to_string(opacity));
  }
  // std::round takes halves away from 0, which is up here; the product is
  // rounded once, where adding 0.5 and flooring would round twice.
  return static_cast<std::uint8_t>(std::round(opacity * 255));
}

// When a blend is worth splitting across threads, per mode. A split call
// costs split_call_ns more than its pieces (waking the parked workers and
// waiting for the last); a piece must take at least twice that on one core,
// so no thread is given fewer than smallest_piece(mode) bytes and arrays
// below threaded_from(mode), two such pieces, stay on the calling thread
// whatever Options::threads says.
//
// The memory-bound modes gain from a second core only where it adds
// bandwidth: their pieces are at least streaming_piece, the size from which
// the kernels write with streaming stores. A smaller piece loses them: on
// 1080p RGB (6 MB) two 3 MB calls back to back on one core took 1.33x
// (screen), 1.42x (multiplication), 1.46x (addition) the time of one 6 MB
// call, and two threads started per call made a 1080p screen slower than
// one thread. Overlay loses as much (1.45x) but does enough arithmetic that
// two cores still win; dodge and burn lose nothing (0.99x). Those three are
// bound by their arithmetic and split as soon as the pieces pay for the
// call.
//
// Measured with byteblend_bench (bench/report.py prints the figures;
// `byteblend_bench --benchmark_repetitions=15
// --benchmark_enable_random_interleaving=true
// --benchmark_filter='^[A-Z][A-Za-z]+Blend/1048576|pool_wake'` these):
// bytes_per_ns is the mode's exported kernel on one thread at 1 MiB, in
// cache, the best of 15 interleaved repetitions (on a shared machine the
// best is the one least disturbed); split_call_ns is pool_wake, a split
// call of two empty pieces after the workers have gone to sleep, median of
// 15 (6.6 to 9.3 us; a call right after another finds them spinning, about
// 1 us). A 2-core AMD EPYC (Zen 4, AVX-512) with 2 MiB of L2 a core. Only
// the compute-bound modes' rates enter smallest_piece; the others' are
// there to compare.
struct SplitCost {
  double bytes_per_ns;
  bool memory_bound;
};
inline constexpr double split_call_ns = 8'000;
inline constexpr std::size_t streaming_piece = std::size_t{4} << 20;
// In the order of the enum.
inline constexpr std::array<SplitCost, mode_table.size()> split_costs = {{
    {32.6, true},  // addition
    {32.6, true},  // subtraction
    {32.1, true},  // multiplication
    {32.3, true},  // screen
    {31.3, true},  // red_channel
    {31.7, true},  // green_channel
    {31.6, true},  // blue_channel
    {31.2, true},  // opacity
    {29.2, false}, // overlay
    {32.2, true},  // lighten
    {32.5, true},  // darken
    {8.6, false},  // color_dodge
    {9.2, false},  // color_burn
}};
// A row left out would be a rate of 0: pieces of 0 bytes.
static_assert(std::ranges::all_of(split_costs, [](const SplitCost &cost) {
  return cost.bytes_per_ns > 0;
}));

// The fewest bytes a thread is given for this mode: a whole number of
// 192-byte granules (see detail::array_granule).
constexpr std::size_t smallest_piece(Mode mode) {
  const SplitCost cost = split_costs[static_cast<std::size_t>(mode)];
  if (cost.memory_bound) {
    return streaming_piece;
  }
  const auto bytes =
      static_cast<std::size_t>(cost.bytes_per_ns * 2 * split_call_ns);
  return (bytes + 191) / 192 * 192;
}

// Arrays shorter than this stay on the calling thread: two smallest pieces.
constexpr std::size_t threaded_from(Mode mode) {
  return 2 * smallest_piece(mode);
}

namespace detail {

// A decimal count with nothing else but a final newline; none for any
// other text.
inline std::optional<std::uint64_t> parse_count(std::string_view text) {
  if (!text.empty() && text.back() == '\n') {
    text.remove_suffix(1);
  }
  std::uint64_t value = 0;
  const char *const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc{} || stop != end) {
    return std::nullopt;
  }
  return value;
}

// The CPUs that a CPU quota of `quota` microseconds in every `period`
// allows, rounded up: "150000" in "100000" is 2. No limit for a quota that
// is not a positive count ("max" in cgroup v2, "-1" in v1) or any other
// text.
inline std::optional<unsigned> cpus_of_quota(std::string_view quota,
                                             std::string_view period) {
  const std::optional<std::uint64_t> q = parse_count(quota);
  const std::optional<std::uint64_t> p = parse_count(period);
  if (!q || !p || *q == 0 || *p == 0) {
    return std::nullopt;
  }
  const std::uint64_t cpus = *q / *p + (*q % *p != 0 ? 1 : 0);
  return static_cast<unsigned>(
      std::min<std::uint64_t>(cpus, std::numeric_limits<unsigned>::max()));
}

// The same from the text of a cgroup v2 cpu.max file: "QUOTA PERIOD".
inline std::optional<unsigned> cpus_of_cpu_max(std::string_view text) {
  const std::size_t space = text.find(' ');
  if (space == std::string_view::npos) {
    return std::nullopt;
  }
  return cpus_of_quota(text.substr(0, space), text.substr(space + 1));
}

// Where this process's CPU quota lies, read from /proc/self/cgroup
// ("ID:CONTROLLERS:PATH" lines): the hierarchy's folder, the process's
// cgroup in it, and whether it is cgroup v1 (files cpu.cfs_quota_us and
// cpu.cfs_period_us) rather than v2 (cpu.max). v1's cpu controller, where a
// line names it, is the one in force, under MOUNT/CONTROLLERS; else v2's
// single line "0::PATH", under MOUNT. Linux mounts them at /sys/fs/cgroup.
struct CpuCgroup {
  std::string hierarchy;
  std::string path;
  bool v1 = false;
};
inline std::optional<CpuCgroup>
cpu_cgroup(std::string_view proc_self_cgroup,
           std::string_view mount = "/sys/fs/cgroup") {
  std::optional<CpuCgroup> found;
  while (!proc_self_cgroup.empty()) {
    const std::size_t end =
        std::min(proc_self_cgroup.find('\n'), proc_self_cgroup.size());
    const std::string_view line = proc_self_cgroup.substr(0, end);
    proc_self_cgroup.remove_prefix(std::min(end + 1, proc_self_cgroup.size()));
    const std::size_t first = line.find(':');
    const std::size_t second =
        first == std::string_view::npos ? first : line.find(':', first + 1);
    if (second == std::string_view::npos) {
      continue;
    }
    const std::string_view controllers =
        line.substr(first + 1, second - first - 1);
    const std::string path(line.substr(second + 1));
    if (controllers.empty() && line.substr(0, first) == "0") {
      if (!found) {
        found = CpuCgroup{std::string(mount), path, false};
      }
      continue;
    }
    for (std::string_view rest = controllers; !rest.empty();) {
      const std::size_t comma = std::min(rest.find(','), rest.size());
      if (rest.substr(0, comma) == "cpu") {
        return CpuCgroup{std::string(mount) + '/' + std::string(controllers),
                         path, true};
      }
      rest.remove_prefix(std::min(comma + 1, rest.size()));
    }
  }
  return found;
}

// A small file's text; empty when it cannot be read.
inline std::string read_text(const std::string &path) {
  std::ifstream file(path);
  return {std::istreambuf_iterator<char>(file),
          std::istreambuf_iterator<char>()};
}

// The CPUs that the quota of the cgroup and of each one above it allows,
// the fewest of them; none where no quota is set. Above it too, since a
// limit on a parent holds for its children, and a container that sees its
// host's path for its cgroup has its own cgroup mounted as the root.
inline std::optional<unsigned> cpu_quota_limit(const CpuCgroup &cgroup) {
  std::optional<unsigned> fewest;
  std::string path = cgroup.path;
  while (true) {
    while (!path.empty() && path.back() == '/') {
      path.pop_back();
    }
    const std::string folder = cgroup.hierarchy + path;
    const std::optional<unsigned> cpus =
        cgroup.v1 ? cpus_of_quota(read_text(folder + "/cpu.cfs_quota_us"),
                                  read_text(folder + "/cpu.cfs_period_us"))
                  : cpus_of_cpu_max(read_text(folder + "/cpu.max"));
    if (cpus && (!fewest || *cpus < *fewest)) {
      fewest = cpus;
    }
    if (path.empty()) {
      return fewest;
    }
    const std::size_t slash = path.rfind('/');
    path.resize(slash == std::string::npos ? 0 : slash);
  }
}

// The same for this process; none when no cgroup can be read.
inline std::optional<unsigned> cgroup_cpu_limit() {
  const std::optional<CpuCgroup> cgroup =
      cpu_cgroup(read_text("/proc/self/cgroup"));
  return cgroup ? cpu_quota_limit(*cgroup) : std::nullopt;
}

// The CPUs in this process's affinity mask (as `taskset` sets it). The set
// grows until the kernel's mask fits in it, so hosts of more than 1024 CPUs
// are counted in full.
inline unsigned affinity_cpus() {
  for (std::size_t sets = 1; sets <= 4096; sets *= 2) {
    std::vector<cpu_set_t> mask(sets);
    const std::size_t bytes = sets * sizeof(cpu_set_t);
    if (sched_getaffinity(0, bytes, mask.data()) == 0) {
      return static_cast<unsigned>(
          std::max(1, CPU_COUNT_S(bytes, mask.data())));
    }
    if (errno != EINVAL) {
      break;
    }
  }
  return std::max(1U, std::thread::hardware_concurrency());
}

} // namespace detail

// The CPUs this process may use: those of its affinity mask, and no more
// than its cgroup's CPU quota allows (rounded up); at least 1. Unlike
// std::thread::hardware_concurrency(), which counts the host's CPUs, this is
// what a container limited to 2 CPUs or a program started under `taskset`
// may use. Worked out once, at the first call; a child of fork() keeps its
// parent's mask and cgroup, so the value stays right there, but a later
// change of this process's own affinity or cgroup is not seen.
inline unsigned usable_cores() {
  static const unsigned cores = [] {
    const unsigned cpus = detail::affinity_cpus();
    const std::optional<unsigned> quota = detail::cgroup_cpu_limit();
    return std::max(1U, quota ? std::min(cpus, *quota) : cpus);
  }();
  return cores;
}

namespace detail {

// threads_for() for work whose pieces must be at least `piece` bytes: 1
// below two such pieces (a piece of 0 bytes counts as 1).
inline unsigned threads_for_piece(std::size_t piece, std::size_t bytes,
                                  unsigned requested) {
  if (piece == 0) {
    piece = 1;
  }
  if (bytes / 2 < piece) {
    return 1;
  }
  const unsigned cores = usable_cores();
  const unsigned wanted = requested == 0 ? cores : std::min(requested, cores);
  return static_cast<unsigned>(std::min<std::size_t>(wanted, bytes / piece));
}

// The threads that blend() and the image blend() use for `bytes` bytes of
// this mode when `requested` were asked for (0: every usable core): 1 below
// threaded_from(mode), never more than usable_cores(), nor more than pieces
// of smallest_piece(mode) bytes. A count past any machine is simply clamped.
inline unsigned threads_for(Mode mode, std::size_t bytes, unsigned requested) {
  return threads_for_piece(smallest_piece(mode), bytes, requested);
}

// Whether a and b share a byte without starting at the same one. The
// kernels allow result to be exactly top or bottom, but an array that
// overlaps an input at another offset does not get the element loop's order
// from the vector routes, which read a whole vector before storing any of it.
inline bool overlaps_partly(std::span<const std::uint8_t> a,
                            std::span<const std::uint8_t> b) {
  if (a.empty() || b.empty() || a.data() == b.data()) {
    return false;
  }
  // std::less orders pointers into different arrays too.
  const std::less<> below;
  return below(a.data(), b.data() + b.size()) &&
         below(b.data(), a.data() + a.size());
}

// The first index of each thread's piece of an array is a multiple of this:
// of 3, so that the channel modes stay on their channel, and of 64, so that
// no two threads write into the same cache line.
inline constexpr std::size_t array_granule = 192;

// The threads that split_across_threads hands pieces to: usable_cores() - 1
// workers, started at the first call that splits and parked between calls,
// so that a call costs a wake-up rather than a thread's start and join.
//
// One call uses the pool at a time; a call that finds it busy (another
// thread's blend, or a blend inside a piece) runs its pieces itself, one
// after another, so no call waits for another and no work is lost. The
// calling thread takes the first piece, then any piece that no worker has
// claimed yet: on a loaded machine, where a worker may not run for
// milliseconds, the call does not wait for a worker that has not started
// (it still waits for one that has claimed a piece and then lost its
// core). A worker spins for spin_time after its piece, so that a call soon
// after the last finds it awake, then sleeps on a futex. The
// pool is never destroyed: its workers may still be asleep in it while the
// program exits, and touch nothing else. A child of fork() has none of its
// parent's threads, so the pool belongs to the process that made it and a child
// makes its own.
class WorkerPool {
public:
  // A piece of a call: run(context, piece).
  using PieceFunction = void(void *context, std::size_t piece);

  // The pool of this process, made and started at the first call.
  static WorkerPool &of_this_process() {
    static std::atomic<WorkerPool *> current{nullptr};
    const pid_t pid = getpid();
    WorkerPool *pool = current.load(std::memory_order_acquire);
    while (pool == nullptr || pool->owner_ != pid) {
      // Deliberately leaked; a parent's pool that a child inherits is
      // never used again by the child, but stays reachable from the
      // child's own (its workers, which held it, are not in the child).
      auto *made = new WorkerPool(pid);
      made->inherited_ = pool;
      if (current.compare_exchange_strong(pool, made,
                                          std::memory_order_acq_rel)) {
        made->start();
        return *made;
      }
      delete made; // never started
    }
    return *pool;
  }

  // The threads a call may use at most: the workers and the caller.
  [[nodiscard]] unsigned threads() const {
    return workers_.load(std::memory_order_relaxed) + 1;
  }

  // Runs run(context, p) for every p in [0, pieces), the caller taking
  // piece 0, and returns when all have returned. run must not throw.
  void run(std::size_t pieces, PieceFunction *run, void *context) {
    if (pieces <= 1 || busy_.exchange(true, std::memory_order_acquire)) {
      for (std::size_t piece = 0; piece < pieces; ++piece) {
        run(context, piece);
      }
      return;
    }
    function_ = run;
    context_ = context;
    finished_.store(0, std::memory_order_relaxed);
    const std::uint32_t generation = generation_.load() + 1;
    claim_.store(pack(generation, 1, pieces), std::memory_order_release);
    generation_.store(generation);
    if (sleeping_workers_.load() != 0) {
      futex_wake(generation_);
    }
    run(context, 0);
    while (run_claimed_piece(generation)) {
      finished_.fetch_add(1);
    }
    // Every piece has been claimed; wait for the workers' to end.
    const auto others = static_cast<std::uint32_t>(pieces - 1);
    if (!spin_until([&] { return finished_.load() == others; })) {
      caller_sleeping_.store(true);
      for (std::uint32_t seen = finished_.load(); seen != others;
           seen = finished_.load()) {
        futex_wait(finished_, seen);
      }
      caller_sleeping_.store(false);
    }
    busy_.store(false, std::memory_order_release);
  }

private:
  // How long a thread spins, for the next call (a worker) or for the
  // workers' pieces (the caller), before it sleeps. On a virtual machine
  // whose host halts an idle CPU (a 2-core EPYC, Zen 5) a thread woken from
  // its futex ran 26-61 us after the wake at the median and up to 0.9 ms
  // later at the 90th percentile: longer than half a 1 MiB dodge, so a
  // worker woken per call came too late to help. A call within this time of
  // the last finds the workers spinning, as in a loop of calls, or calls on
  // one thread between calls on all, up to a 1080p dodge's time.
  static constexpr std::chrono::microseconds spin_time{500};

  // Spins, pausing, until done() or for spin_time; returns done().
  template <class Done> static bool spin_until(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + spin_time;
    while (true) {
      // The clock costs tens of pauses' time; read it every 64 pauses.
      for (int spin = 0; spin < 64; ++spin) {
        if (done()) {
          return true;
        }
        pause();
      }
      if (std::chrono::steady_clock::now() >= deadline) {
        return done();
      }
    }
  }

  explicit WorkerPool(pid_t owner) : owner_(owner) {}

  void start() {
    const unsigned wanted = std::min(usable_cores(), 1U << 15) - 1;
    // pthread_create rather than std::thread, which allocates a state for
    // each thread that only the thread holds: a fork() child, which has
    // none of the parent's threads, would leak it.
    for (unsigned i = 0; i < wanted; ++i) {
      pthread_t thread{};
      if (pthread_create(&thread, nullptr, &WorkerPool::work_of, this) != 0) {
        break; // fewer workers; the callers take their pieces
      }
      pthread_detach(thread);
      workers_.fetch_add(1, std::memory_order_relaxed);
    }
  }

  static void *work_of(void *pool) {
    static_cast<WorkerPool *>(pool)->work();
    return nullptr; // not reached: a worker works until the process ends
  }

  // The claim word: the call's generation, the next piece, the pieces.
  static std::uint64_t pack(std::uint32_t generation, std::size_t next,
                            std::size_t pieces) {
    return std::uint64_t{generation} << 32 | std::uint64_t{next} << 16 |
           std::uint64_t{pieces};
  }

  // Claims the next piece of the call of this generation and runs it; false
  // when no piece is left (or the call is over).
  bool run_claimed_piece(std::uint32_t generation) {
    std::uint64_t claim = claim_.load(std::memory_order_acquire);
    while (true) {
      const std::size_t next = (claim >> 16) & 0xFFFF;
      const std::size_t pieces = claim & 0xFFFF;
      if (claim >> 32 != generation || next >= pieces) {
        return false;
      }
      if (claim_.compare_exchange_weak(claim, claim + (1U << 16),
                                       std::memory_order_acquire)) {
        function_(context_, next);
        return true;
      }
    }
  }

  [[noreturn]] void work() {
    std::uint32_t seen = generation_.load();
    while (true) {
      if (!spin_until([&] { return generation_.load() != seen; })) {
        sleeping_workers_.fetch_add(1);
        futex_wait(generation_, seen);
        sleeping_workers_.fetch_sub(1);
        continue;
      }
      seen = generation_.load();
      while (run_claimed_piece(seen)) {
        finished_.fetch_add(1);
        if (caller_sleeping_.load()) {
          futex_wake(finished_);
        }
      }
    }
  }

  static void pause() { __builtin_ia32_pause(); }
  static void futex_wait(std::atomic<std::uint32_t> &word,
                         std::uint32_t expected) {
    syscall(SYS_futex, reinterpret_cast<std::uint32_t *>(&word),
            FUTEX_WAIT_PRIVATE, expected, nullptr, nullptr, 0);
  }
  static void futex_wake(std::atomic<std::uint32_t> &word) {
    syscall(SYS_futex, reinterpret_cast<std::uint32_t *>(&word),
            FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
  }

  const pid_t owner_;
  WorkerPool *inherited_ = nullptr; // the parent's, in a fork() child
  std::atomic<unsigned> workers_{0};
  std::atomic<bool> busy_{false};
  // The call's pieces; written by the caller before it publishes claim_.
  PieceFunction *function_ = nullptr;
  void *context_ = nullptr;
  std::atomic<std::uint64_t> claim_{0};
  std::atomic<std::uint32_t> generation_{0};
  std::atomic<std::uint32_t> finished_{0};
  std::atomic<std::uint32_t> sleeping_workers_{0};
  std::atomic<bool> caller_sleeping_{false};
};

// Calls work(first, last) on contiguous ranges that together cover
// [0, count) exactly once, up to `threads` of them (0: one per usable core),
// and returns when all are done. Each range's first index is a multiple of
// granule (positive). The calling thread takes the first range; the others
// go to the WorkerPool's parked workers, so no thread is started per call
// and no more than usable_cores() threads ever work on one call. A range
// that no worker has taken by the time the caller is done with its own
// (the workers busy with another call, or not yet run by a loaded machine)
// the caller runs itself. With threads 1 it is work(0, count) on the calling
// thread. An exception from work on any thread is rethrown here once every
// range is done (the first range's, else the next one's).
template <class Work>
void split_across_threads(std::size_t count, std::size_t granule,
                          unsigned threads, Work work) {
  if (threads == 1) {
    work(std::size_t{0}, count);
    return;
  }
  const unsigned cores = usable_cores();
  threads = threads == 0 ? cores : std::min(threads, cores);
  const std::size_t granules = count / granule + (count % granule != 0 ? 1 : 0);
  const std::size_t ranges = std::min<std::size_t>(threads, granules);
  if (ranges <= 1) {
    work(std::size_t{0}, count);
    return;
  }
  WorkerPool &pool = WorkerPool::of_this_process();
  const std::size_t pieces = std::min<std::size_t>(ranges, pool.threads());
  const std::size_t span = (granules + pieces - 1) / pieces * granule;
  std::vector<std::exception_ptr> failures(pieces);
  struct Call {
    Work &work;
    std::vector<std::exception_ptr> &failures;
    std::size_t count, span;
  } call{work, failures, count, span};
  pool.run(
      pieces,
      [](void *context, std::size_t piece) {
        Call &c = *static_cast<Call *>(context);
        const std::size_t first = piece * c.span;
        if (first >= c.count && piece != 0) {
          return;
        }
        try {
          c.work(first, std::min(c.count, first + c.span));
        } catch (...) {
          c.failures[piece] = std::current_exception();
        }
      },
      &call);
  for (const std::exception_ptr &failure : failures) {
    if (failure) {
      std::rethrow_exception(failure);
    }
  }
}

// The messages of the checks below, out of line and marked cold, so that
// each check inlines into a few comparisons: blend() costs a small array
// little more than its kernel call.
[[noreturn, gnu::cold, gnu::noinline]] inline void
throw_bad_chunk(const char *who, std::size_t chunk) {
  throw std::invalid_argument(std::string(who) + ": chunk of " +
                              std::to_string(chunk) +
                              " bytes is not a positive multiple of 3 "
                              "below 2^31");
}

[[noreturn, gnu::cold, gnu::noinline]] inline void
throw_sizes_differ(const char *who, std::size_t top, std::size_t bottom,
                   std::size_t result) {
  throw std::invalid_argument(std::string(who) + ": sizes differ: top has " +
                              std::to_string(top) + " bytes, bottom " +
                              std::to_string(bottom) + ", result " +
                              std::to_string(result));
}

[[noreturn, gnu::cold, gnu::noinline]] inline void
throw_partial_overlap(const char *who) {
  throw std::invalid_argument(std::string(who) + ": result overlaps top or "
                                                 "bottom at another offset");
}

// Throws unless the chunk is a positive multiple of 3 that a kernel can take.
inline void check_chunk(const char *who, std::size_t chunk) {
  constexpr auto largest =
      static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
  if (chunk == 0 || chunk % 3 != 0 || chunk > largest) [[unlikely]] {
    throw_bad_chunk(who, chunk);
  }
}

// The checks of a flat blend, before any byte is touched: the three sizes
// agree, result is top or bottom or shares no byte with them, and the chunk
// is a positive multiple of 3 that a kernel can take. `who` starts the
// message.
inline void check_arrays(const char *who, std::span<const std::uint8_t> top,
                         std::span<const std::uint8_t> bottom,
                         std::span<const std::uint8_t> result,
                         std::size_t chunk) {
  if (top.size() != bottom.size() || top.size() != result.size()) [[unlikely]] {
    throw_sizes_differ(who, top.size(), bottom.size(), result.size());
  }
  if (overlaps_partly(result, top) || overlaps_partly(result, bottom))
      [[unlikely]] {
    throw_partial_overlap(who);
  }
  check_chunk(who, chunk);
}

// Calls blend_chunk(offset, length) over [0, bytes) in chunks of at most
// `chunk` bytes, starting on multiples of array_granule, on up to `threads`
// threads.
template <class BlendChunk>
void blend_in_chunks(std::size_t bytes, std::size_t chunk, unsigned threads,
                     BlendChunk blend_chunk) {
  split_across_threads(
      bytes, array_granule, threads, [&](std::size_t first, std::size_t last) {
        for (std::size_t offset = first; offset < last; offset += chunk) {
          blend_chunk(offset, std::min(chunk, last - offset));
        }
      });
}

} // namespace detail

// Blends top onto bottom into result, byte by byte, for any size. result may
// be top or bottom itself. The channel modes write only their channel of each
// packed RGB pixel and leave the other two bytes of result as they were.
// Arrays of threaded_from(mode) bytes or more are cut into up to
// options.threads pieces (detail::threads_for), blended at once by the
// calling thread and the workers of detail::WorkerPool. Arrays have no alpha,
// so options.blend_operator makes no difference. Throws
// std::invalid_argument when the three sizes differ, when result overlaps top
// or bottom without being that very array, when the chunk is not a positive
// multiple of 3 that a kernel can take, or when the opacity's byte is not 255
// (blend_with_opacity() of byteblend_layers.hpp takes any).
inline void blend(Mode mode, std::span<const std::uint8_t> top,
                  std::span<const std::uint8_t> bottom,
                  std::span<std::uint8_t> result, const Options &options = {}) {
  detail::check_arrays("byteblend::blend", top, bottom, result, options.chunk);
  // (1, the default, is byte 255 without rounding it.)
  if (options.opacity != 1 && opacity_byte(options.opacity) != 255) {
    throw std::invalid_argument(
        "byteblend::blend: an opacity below 1 needs the layers library: "
        "include byteblend_layers.hpp, link byteblend::layers and call "
        "byteblend::blend_with_opacity");
  }
  KernelFunction *const function = kernel(mode);
  if (function == nullptr) {
    throw std::invalid_argument("byteblend::blend: not a mode");
  }
  const unsigned threads =
      detail::threads_for(mode, top.size(), options.threads);
  if (threads == 1 && top.size() <= options.chunk) {
    // One kernel call does it, as for most arrays below threaded_from(mode):
    // then the default thread count costs a small array a few nanoseconds
    // over the kernel, not the tens that the chunk and thread plumbing take.
    function(static_cast<std::int32_t>(top.size()), top.data(), bottom.data(),
             result.data());
    return;
  }
  detail::blend_in_chunks(
      top.size(), options.chunk, threads,
      [&](std::size_t offset, std::size_t length) {
        function(static_cast<std::int32_t>(length), top.data() + offset,
                 bottom.data() + offset, result.data() + offset);
      });
}

} // namespace byteblend

#endif // C++20
#endif
