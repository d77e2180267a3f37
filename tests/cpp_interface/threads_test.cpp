// SPDX-License-Identifier: MIT
// blend() on more than one thread: the cores this process may use, how many
// threads a size gets, the ranges that split_across_threads hands out,
// exceptions from the threads, and bytes identical to one thread for every
// thread count and mode, on sizes around the range boundaries and around
// each mode's threaded_from.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "byteblend.hpp"
#include "random_bytes.hpp"

namespace {

using byteblend::Mode;
using Range = std::pair<std::size_t, std::size_t>;

constexpr unsigned kThreadCounts[] = {1, 2, 3, 0, 7};
constexpr unsigned kPastAnyMachine = std::numeric_limits<unsigned>::max();

using testing_support::random_bytes;

struct Split {
  std::vector<Range> ranges; // sorted
  std::set<std::thread::id> threads;
};

Split split(std::size_t count, std::size_t granule, unsigned threads) {
  Split result;
  std::mutex lock;
  byteblend::detail::split_across_threads(
      count, granule, threads, [&](std::size_t first, std::size_t last) {
        const std::scoped_lock held(lock);
        result.ranges.emplace_back(first, last);
        result.threads.insert(std::this_thread::get_id());
      });
  std::sort(result.ranges.begin(), result.ranges.end());
  return result;
}

// The cgroup v2 cpu.max text: "QUOTA PERIOD" allows QUOTA / PERIOD CPUs,
// rounded up; "max" and anything unreadable are no limit.
TEST(UsableCores, CpuMaxText) {
  struct Case {
    std::string_view text;
    std::optional<unsigned> cpus;
  };
  for (const Case &c : {
           Case{"max 100000", std::nullopt},
           Case{"max 100000\n", std::nullopt},
           Case{"200000 100000", 2U},
           Case{"200000 100000\n", 2U},
           Case{"150000 100000", 2U},
           Case{"50000 100000", 1U},
           Case{"1 100000", 1U},
           Case{"6400000 100000\n", 64U},
           Case{"", std::nullopt},
           Case{"garbage", std::nullopt},
           Case{"200000", std::nullopt},
           Case{"200000 0", std::nullopt},
           Case{"0 100000", std::nullopt},
           Case{"-100000 100000", std::nullopt},
           Case{"200000  100000", std::nullopt},
           Case{"200000 100000 7", std::nullopt},
           Case{"2e5 100000", std::nullopt},
       }) {
    EXPECT_EQ(byteblend::detail::cpus_of_cpu_max(c.text), c.cpus)
        << '"' << c.text << '"';
  }
  // cgroup v1 keeps the two numbers in two files; -1 is no quota.
  EXPECT_EQ(byteblend::detail::cpus_of_quota("-1\n", "100000\n"), std::nullopt);
  EXPECT_EQ(byteblend::detail::cpus_of_quota("250000\n", "100000\n"), 3U);
}

// Which cgroup's quota applies, from /proc/self/cgroup: v1's cpu
// controller where a line names it, else v2's "0::" line.
TEST(UsableCores, CgroupOfTheProcess) {
  struct Case {
    std::string_view text;
    std::string hierarchy; // empty: none
    std::string path;
    bool v1;
  };
  for (const Case &c : {
           Case{"0::/user.slice/session-2.scope\n", "/m",
                "/user.slice/session-2.scope", false},
           Case{"0::/\n", "/m", "/", false},
           Case{"2:cpuacct:/\n1:cpu:/docker/abc\n0::/\n", "/m/cpu",
                "/docker/abc", true},
           Case{"4:cpu,cpuacct:/a/b\n", "/m/cpu,cpuacct", "/a/b", true},
           Case{"3:cpuacct,cpu:/c\n0::/d\n", "/m/cpuacct,cpu", "/c", true},
           Case{"5:cpuset:/x\n0::/y", "/m", "/y", false},
           Case{"5:cpuset:/x\n", "", "", false},
           Case{"", "", "", false},
           Case{"garbage\n", "", "", false},
       }) {
    const auto cgroup = byteblend::detail::cpu_cgroup(c.text, "/m");
    if (c.hierarchy.empty()) {
      EXPECT_FALSE(cgroup) << '"' << c.text << '"';
      continue;
    }
    ASSERT_TRUE(cgroup) << '"' << c.text << '"';
    EXPECT_EQ(cgroup->hierarchy, c.hierarchy) << '"' << c.text << '"';
    EXPECT_EQ(cgroup->path, c.path) << '"' << c.text << '"';
    EXPECT_EQ(cgroup->v1, c.v1) << '"' << c.text << '"';
  }
}

// The quota files of the cgroup and those above it, in a scratch folder
// laid out as /sys/fs/cgroup: the fewest CPUs any of them allows.
TEST(UsableCores, QuotaOfTheCgroupAndThoseAboveIt) {
  const std::filesystem::path mount =
      std::filesystem::path(testing::TempDir()) /
      ("byteblend_cgroup_test_" + std::to_string(getpid()));
  struct File {
    const char *name; // under the mount
    const char *text;
  };
  struct Case {
    const char *what;
    std::vector<File> files;
    std::string proc_self_cgroup;
    std::optional<unsigned> cpus;
  };
  const Case cases[] = {
      {"v2, own limit", {{"a/b/cpu.max", "150000 100000\n"}}, "0::/a/b\n", 2U},
      {"v2, parent's limit",
       {{"a/b/cpu.max", "max 100000\n"}, {"a/cpu.max", "300000 100000\n"}},
       "0::/a/b\n",
       3U},
      {"v2, the fewest",
       {{"a/b/cpu.max", "400000 100000\n"}, {"a/cpu.max", "100000 100000\n"}},
       "0::/a/b\n",
       1U},
      {"v2, no limit",
       {{"a/b/cpu.max", "max 100000\n"}},
       "0::/a/b\n",
       std::nullopt},
      {"v2, no files", {}, "0::/a/b\n", std::nullopt},
      {"v1, container root",
       {{"cpu,cpuacct/cpu.cfs_quota_us", "200000\n"},
        {"cpu,cpuacct/cpu.cfs_period_us", "100000\n"}},
       "4:cpu,cpuacct:/docker/abc\n",
       2U},
      {"v1, no quota",
       {{"cpu/cpu.cfs_quota_us", "-1\n"},
        {"cpu/cpu.cfs_period_us", "100000\n"}},
       "1:cpu:/\n",
       std::nullopt},
  };
  for (const Case &c : cases) {
    std::filesystem::remove_all(mount);
    for (const File &file : c.files) {
      const std::filesystem::path at = mount / file.name;
      std::filesystem::create_directories(at.parent_path());
      std::ofstream(at) << file.text;
    }
    const auto cgroup =
        byteblend::detail::cpu_cgroup(c.proc_self_cgroup, mount.string());
    ASSERT_TRUE(cgroup) << c.what;
    EXPECT_EQ(byteblend::detail::cpu_quota_limit(*cgroup), c.cpus) << c.what;
  }
  std::filesystem::remove_all(mount);
}

// Under `taskset -c 0` (CTest's byteblend_usable_cores_under_taskset sets
// BYTEBLEND_EXPECTED_CORES=1) exactly that; anywhere, no more than the host
// has.
TEST(UsableCores, CountsTheCpusThisProcessMayUse) {
  const unsigned cores = byteblend::usable_cores();
  EXPECT_GE(cores, 1U);
  if (const unsigned host = std::thread::hardware_concurrency(); host != 0) {
    EXPECT_LE(cores, host);
  }
  if (const char *expected = std::getenv("BYTEBLEND_EXPECTED_CORES")) {
    EXPECT_EQ(std::to_string(cores), expected);
  }
}

// How many threads a size gets: 1 below the mode's threaded_from,
// otherwise no more than asked for, than usable cores, or than pieces of
// the mode's smallest_piece; the memory-bound modes in pieces that keep the
// kernels' streaming stores.
TEST(ThreadsFor, ClampedToCoresAndTheModesPieces) {
  const unsigned cores = byteblend::usable_cores();
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  static_assert(byteblend::smallest_piece(Mode::screen) == 4 * kMiB);
  static_assert(byteblend::threaded_from(Mode::addition) == 8 * kMiB);
  static_assert(byteblend::threaded_from(Mode::color_dodge) < kMiB);
  static_assert(byteblend::threaded_from(Mode::overlay) < 4 * kMiB);
  struct Case {
    Mode mode;
    std::size_t bytes;
    unsigned requested;
    unsigned at_most; // before the cores
  };
  const std::size_t dodge = byteblend::smallest_piece(Mode::color_dodge);
  for (const Case c : {
           Case{Mode::addition, 0, 0, 1},
           Case{Mode::addition, 8 * kMiB - 1, 0, 1},
           Case{Mode::addition, 8 * kMiB - 1, kPastAnyMachine, 1},
           Case{Mode::screen, 6220800, 0, 1}, // 1080p RGB
           Case{Mode::addition, 8 * kMiB, kPastAnyMachine, 2},
           Case{Mode::addition, 8 * kMiB, 0, 2},
           Case{Mode::screen, 20 * kMiB - 1, 7, 4},
           Case{Mode::screen, 20 * kMiB, 7, 5},
           Case{Mode::addition, 64 * kMiB, 2, 2},
           Case{Mode::addition, 64 * kMiB, 1, 1},
           Case{Mode::color_dodge, 2 * dodge - 1, 0, 1},
           Case{Mode::color_dodge, 2 * dodge, 0, 2},
           Case{Mode::color_dodge, 3 * dodge, 7, 3},
           Case{Mode::color_burn, 6220800, 0, kPastAnyMachine},
           Case{Mode::overlay, 6220800, 1, 1},
           Case{Mode::blue_channel, std::size_t{1} << 40, kPastAnyMachine,
                kPastAnyMachine},
           Case{Mode::opacity, std::size_t{1} << 40, 0, kPastAnyMachine},
       }) {
    EXPECT_EQ(byteblend::detail::threads_for(c.mode, c.bytes, c.requested),
              std::min(c.at_most, cores))
        << byteblend::name(c.mode) << ", " << c.bytes << " bytes, "
        << c.requested << " threads";
  }
  // A piece of no bytes is one byte: as many threads as bytes, no division
  // by zero.
  EXPECT_EQ(byteblend::detail::threads_for_piece(0, 1, 0), 1U);
  EXPECT_EQ(byteblend::detail::threads_for_piece(0, 2, 2), std::min(2U, cores));
}

// The ranges cover [0, count) once, in order, each starting on a granule,
// no more of them than threads or usable cores, nor threads than ranges.
TEST(SplitAcrossThreads, RangesCoverEverythingOnceOnGranules) {
  const unsigned cores = byteblend::usable_cores();
  for (const std::size_t granule : {std::size_t{1}, std::size_t{192}}) {
    for (const std::size_t count :
         {std::size_t{0}, std::size_t{1}, granule, granule + 1, 2 * granule - 1,
          2 * granule, 2 * granule + 1, 7 * granule + 5, 100 * granule + 191}) {
      for (const unsigned threads : kThreadCounts) {
        const Split s = split(count, granule, threads);
        const unsigned most = threads == 0 ? cores : std::min(threads, cores);
        ASSERT_FALSE(s.ranges.empty()) << count;
        EXPECT_LE(s.ranges.size(), most) << count << " on " << threads;
        // The caller runs a range no worker has taken yet.
        EXPECT_LE(s.threads.size(), s.ranges.size())
            << count << " on " << threads;
        std::size_t next = 0;
        for (const auto &[first, last] : s.ranges) {
          EXPECT_EQ(first, next) << count << " on " << threads;
          EXPECT_EQ(first % granule, 0U) << count << " on " << threads;
          EXPECT_TRUE(first < last || count == 0) << count;
          next = last;
        }
        EXPECT_EQ(next, count) << count << " on " << threads;
      }
    }
  }
}

// Enough work is shared out: as many ranges as threads asked for, while
// there are granules and usable cores for them.
TEST(SplitAcrossThreads, UsesTheThreadsItIsGiven) {
  constexpr std::size_t g = 192;
  const std::size_t cores = byteblend::usable_cores();
  const auto ranges = [](std::size_t count, unsigned threads) {
    return split(count, g, threads).ranges.size();
  };
  EXPECT_EQ(ranges(g * 10, 2), std::min<std::size_t>(2, cores));
  EXPECT_EQ(ranges(g * 10, 3), std::min<std::size_t>(3, cores));
  // 2 granules each on 5 cores or more.
  EXPECT_EQ(ranges(g * 10, 7), cores >= 5 ? 5 : cores);
  EXPECT_EQ(ranges(g * 2, 7), std::min<std::size_t>(2, cores));
  EXPECT_EQ(ranges(g * 10, 1), 1U);
  EXPECT_EQ(ranges(g * 10, 0), std::min<std::size_t>(10, cores));
}

// A thread count past any machine starts no more threads than there are
// usable cores, rather than one a granule.
TEST(SplitAcrossThreads, NeverMoreThreadsThanUsableCores) {
  const std::size_t count = std::size_t{4} << 20;
  const Split s =
      split(count, byteblend::detail::array_granule, kPastAnyMachine);
  EXPECT_LE(s.threads.size(), byteblend::usable_cores());
  EXPECT_LE(s.ranges.size(), byteblend::usable_cores());
  EXPECT_EQ(s.ranges.back().second, count);
}

TEST(SplitAcrossThreads, OneThreadIsTheCallingThread) {
  const Split s = split(1000, 192, 1);
  ASSERT_EQ(s.ranges.size(), 1U);
  EXPECT_EQ(s.ranges[0], Range(0, 1000));
  EXPECT_EQ(*s.threads.begin(), std::this_thread::get_id());
}

// A throw on any thread reaches the caller once every range has run; it
// does not terminate the program.
TEST(SplitAcrossThreads, ExceptionFromAnyThreadReachesTheCaller) {
  constexpr std::size_t kCount = std::size_t{3} * 192;
  for (const std::size_t throwing_index : {0U, 192U, 2U * 192}) {
    std::mutex lock;
    std::size_t done = 0;
    std::size_t failed = 0;
    EXPECT_THROW(byteblend::detail::split_across_threads(
                     kCount, 192, 3,
                     [&](std::size_t first, std::size_t last) {
                       const std::scoped_lock held(lock);
                       if (first <= throwing_index && throwing_index < last) {
                         failed = last - first;
                         throw std::runtime_error("range failed");
                       }
                       done += last - first;
                     }),
                 std::runtime_error)
        << "index " << throwing_index;
    EXPECT_EQ(done + failed, kCount) << "index " << throwing_index;
  }
}

// Every mode, every thread count, with small chunks too, on sizes around
// the mode's threaded_from and a piece boundary past it: the bytes equal
// one kernel call over the whole array, and the channel modes leave the
// other bytes alone.
TEST(BlendOnThreads, SameBytesForEveryThreadCount) {
  constexpr std::uint8_t kMarker = 0x3C;
  const std::size_t g = byteblend::detail::array_granule;
  std::size_t largest = 0;
  for (const Mode mode : byteblend::all_modes) {
    largest = std::max(largest, byteblend::threaded_from(mode) + 7 * g + 2);
  }
  const auto top = random_bytes(largest, 1);
  const auto bottom = random_bytes(largest, 2);
  for (const Mode mode : byteblend::all_modes) {
    const std::size_t from = byteblend::threaded_from(mode);
    const std::size_t piece = byteblend::smallest_piece(mode);
    for (const std::size_t size :
         {from - 1, from, from + g - 1, from + piece - 1, from + 7 * g + 2}) {
      if (size > largest) {
        continue;
      }
      const std::span<const std::uint8_t> t(top.data(), size);
      const std::span<const std::uint8_t> b(bottom.data(), size);
      std::vector<std::uint8_t> expected(size, kMarker);
      byteblend::kernel(mode)(static_cast<std::int32_t>(size), t.data(),
                              b.data(), expected.data());
      for (const unsigned threads : kThreadCounts) {
        // Small chunks on one thread count only: they cost time under
        // ThreadSanitizer, and the split does not depend on them.
        std::vector<std::size_t> chunks = {byteblend::default_chunk};
        if (threads == 3) {
          chunks.push_back(std::size_t{3} * 1001);
        }
        for (const std::size_t chunk : chunks) {
          std::vector<std::uint8_t> result(size, kMarker);
          byteblend::blend(mode, t, b, result,
                           {.threads = threads, .chunk = chunk});
          const auto [differs, _] =
              std::mismatch(result.begin(), result.end(), expected.begin());
          EXPECT_EQ(differs, result.end())
              << byteblend::name(mode) << ", size " << size << ", threads "
              << threads << ", chunk " << chunk << ": first difference at "
              << (differs - result.begin());
        }
      }
    }
  }
}

// In place, on every thread count: result is top itself.
TEST(BlendOnThreads, ResultMayBeTop) {
  const std::size_t size = byteblend::threaded_from(Mode::screen) + 1000;
  const auto top = random_bytes(size, 3);
  const auto bottom = random_bytes(size, 4);
  for (const Mode mode : {Mode::screen, Mode::green_channel}) {
    std::vector<std::uint8_t> expected = top;
    byteblend::blend(mode, top, bottom, expected);
    for (const unsigned threads : kThreadCounts) {
      std::vector<std::uint8_t> in_place = top;
      byteblend::blend(mode, in_place, bottom, in_place, {.threads = threads});
      EXPECT_EQ(in_place, expected)
          << byteblend::name(mode) << ", threads " << threads;
    }
  }
}

// The pool of workers behind the split: one call at a time uses it, and a
// call that finds it busy runs its pieces itself.

// An array that every mode splits, and the bytes one kernel call gives.
struct PoolCase {
  Mode mode;
  std::vector<std::uint8_t> top, bottom, expected;
};
PoolCase pool_case(Mode mode, unsigned seed) {
  const std::size_t size = byteblend::threaded_from(mode) + 1000;
  PoolCase c{mode, random_bytes(size, seed), random_bytes(size, seed + 1),
             std::vector<std::uint8_t>(size)};
  byteblend::kernel(mode)(static_cast<std::int32_t>(size), c.top.data(),
                          c.bottom.data(), c.expected.data());
  return c;
}
bool blends_right(const PoolCase &c, unsigned threads) {
  std::vector<std::uint8_t> result(c.top.size());
  byteblend::blend(c.mode, c.top, c.bottom, result, {.threads = threads});
  return result == c.expected;
}

// Many threads blending at once, each on its own arrays and several times,
// all through the one pool: every result is whole.
TEST(WorkerPool, ManyCallersAtOnce) {
  constexpr int kCallers = 6;
  constexpr int kCalls = 4;
  const Mode modes[] = {Mode::color_dodge, Mode::overlay, Mode::color_burn};
  std::vector<PoolCase> cases;
  cases.reserve(kCallers);
  for (int i = 0; i < kCallers; ++i) {
    cases.push_back(pool_case(modes[i % 3], 10U + 2U * i));
  }
  std::vector<int> right(kCallers, 0);
  std::vector<std::thread> callers;
  callers.reserve(kCallers);
  for (int i = 0; i < kCallers; ++i) {
    callers.emplace_back([&, i] {
      for (int call = 0; call < kCalls; ++call) {
        right[i] += blends_right(cases[i], call % 2 == 0 ? 0 : 2) ? 1 : 0;
      }
    });
  }
  for (std::thread &caller : callers) {
    caller.join();
  }
  EXPECT_EQ(right, std::vector<int>(kCallers, kCalls));
}

// The workers are started once and kept: many splitting calls run on no
// more kernel threads than there are usable cores (the caller and its
// workers), rather than on new ones each call.
TEST(WorkerPool, NoThreadStartedPerCall) {
  std::mutex lock;
  std::set<pid_t> seen;
  for (int call = 0; call < 8; ++call) {
    byteblend::detail::split_across_threads(1 << 16, 1, 0,
                                            [&](std::size_t, std::size_t) {
                                              const std::scoped_lock held(lock);
                                              seen.insert(gettid());
                                            });
  }
  EXPECT_LE(seen.size(), byteblend::usable_cores());
}

// A blend inside a piece of another split finds the pool busy and runs on
// its own thread: it neither waits for the pool nor loses a piece.
TEST(WorkerPool, BlendInsideAPiece) {
  const PoolCase c = pool_case(Mode::color_dodge, 20);
  std::mutex lock;
  int right = 0;
  byteblend::detail::split_across_threads(
      4, 1, 0, [&](std::size_t first, std::size_t last) {
        for (std::size_t i = first; i < last; ++i) {
          const bool ok = blends_right(c, 0);
          const std::scoped_lock held(lock);
          right += ok ? 1 : 0;
        }
      });
  EXPECT_EQ(right, 4);
}

// A child of fork() has none of its parent's workers: it blends on a pool
// of its own, and the parent's pool still works afterwards.
TEST(WorkerPool, ForkChildBlendsAndSoDoesTheParent) {
  const PoolCase c = pool_case(Mode::color_burn, 30);
  ASSERT_TRUE(blends_right(c, 0)); // the parent's pool is running
  const pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    const bool ok = blends_right(c, 0) && blends_right(c, 2);
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(blends_right(c, 0));
}

} // namespace
