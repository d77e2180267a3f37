// blend() on more than one thread: the ranges that split_across_threads
// hands out, exceptions from the threads, and bytes identical to one thread
// for every thread count and mode, on sizes around the range boundaries and
// around threaded_from.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <random>
#include <set>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "byteblend.hpp"

namespace {

using byteblend::Mode;
using Range = std::pair<std::size_t, std::size_t>;

constexpr unsigned kThreadCounts[] = {1, 2, 3, 0, 7};

std::vector<std::uint8_t> random_bytes(std::size_t size, unsigned seed) {
  std::mt19937 engine(seed);
  std::vector<std::uint8_t> bytes(size);
  for (auto &b : bytes) {
    b = static_cast<std::uint8_t>(engine());
  }
  return bytes;
}

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

// The ranges cover [0, count) once, in order, each starting on a granule,
// no more of them than threads, each on its own thread.
TEST(SplitAcrossThreads, RangesCoverEverythingOnceOnGranules) {
  const unsigned cores = std::max(1U, std::thread::hardware_concurrency());
  for (const std::size_t granule : {std::size_t{1}, std::size_t{192}}) {
    for (const std::size_t count :
         {std::size_t{0}, std::size_t{1}, granule, granule + 1, 2 * granule - 1,
          2 * granule, 2 * granule + 1, 7 * granule + 5, 100 * granule + 191}) {
      for (const unsigned threads : kThreadCounts) {
        const Split s = split(count, granule, threads);
        const unsigned most = threads == 0 ? cores : threads;
        ASSERT_FALSE(s.ranges.empty()) << count;
        EXPECT_LE(s.ranges.size(), most) << count << " on " << threads;
        EXPECT_EQ(s.threads.size(), s.ranges.size())
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
// there are granules for them.
TEST(SplitAcrossThreads, UsesTheThreadsItIsGiven) {
  constexpr std::size_t g = 192;
  EXPECT_EQ(split(g * 10, g, 2).ranges.size(), 2U);
  EXPECT_EQ(split(g * 10, g, 3).ranges.size(), 3U);
  EXPECT_EQ(split(g * 10, g, 7).ranges.size(), 5U); // 2 granules each
  EXPECT_EQ(split(g * 2, g, 7).ranges.size(), 2U);
  EXPECT_EQ(split(g * 10, g, 1).ranges.size(), 1U);
  EXPECT_EQ(split(g * 10, g, 0).ranges.size(),
            std::min(10U, std::max(1U, std::thread::hardware_concurrency())));
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
  for (const std::size_t throwing_range : {0U, 1U, 2U}) {
    std::mutex lock;
    std::size_t done = 0;
    EXPECT_THROW(byteblend::detail::split_across_threads(
                     std::size_t{3} * 192, 192, 3,
                     [&](std::size_t first, std::size_t last) {
                       if (first / 192 == throwing_range) {
                         throw std::runtime_error("range failed");
                       }
                       const std::scoped_lock held(lock);
                       done += last - first;
                     }),
                 std::runtime_error)
        << "range " << throwing_range;
    EXPECT_EQ(done, 2U * 192) << "range " << throwing_range;
  }
}

// Every mode, every thread count, with small chunks too: the bytes equal
// one kernel call over the whole array, and the channel modes leave the
// other bytes alone.
TEST(BlendOnThreads, SameBytesForEveryThreadCount) {
  constexpr std::uint8_t kMarker = 0x3C;
  const std::size_t from = byteblend::threaded_from;
  const std::size_t g = byteblend::detail::array_granule;
  const std::size_t largest = from + 7 * g + 2;
  const auto top = random_bytes(largest, 1);
  const auto bottom = random_bytes(largest, 2);
  for (const std::size_t size :
       {from - 1, from, from + g - 1, from + 7 * g + 2}) {
    const std::span<const std::uint8_t> t(top.data(), size);
    const std::span<const std::uint8_t> b(bottom.data(), size);
    for (const Mode mode : byteblend::all_modes) {
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
  const std::size_t size = byteblend::threaded_from + 1000;
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

} // namespace
