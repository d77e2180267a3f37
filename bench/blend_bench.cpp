// SPDX-License-Identifier: MIT
// Throughput of every kernel beside what bounds it, in one run: the
// ordinary-store and streaming-store bounds at each vector width the CPU
// runs (two vector loads and one store per vector), each kernel through its
// exported name, through each per-instruction-set build and on every core
// (byteblend::blend with Options::threads 0, the default/ benchmarks, and
// paired with threads 1 in default_vs_one/), and,
// when OpenCV is available, its single-threaded peers on the same arrays.
// Bytes per second count `length`, in wall-clock time (other threads' work
// is not the calling thread's CPU time). The figures behind the per-mode split
// thresholds (byteblend::split_costs): each kernel's one-thread rate, and
// pool_wake/, a split call of two empty pieces once the workers sleep; the
// overhead of a split call, split/ (two threads) against pieces/ (the same
// two pieces back to back on one); and the streaming-store bound on every
// core (cores_bound/), the bandwidth a second core adds.
//
//   byteblend_bench --benchmark_filter=... (see bench/report.py)
#include <benchmark/benchmark.h>
#include <immintrin.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "byteblend.h"
#include "byteblend.hpp"
#include "implementations.hpp"

#ifdef BYTEBLEND_BENCH_OPENCV
#include <opencv2/core.hpp>
#endif

namespace {

// 1920x1080 RGB among them.
constexpr std::int32_t kSizes[] = {16 << 10, 128 << 10, 1 << 20,
                                   6220800,  8 << 20,   64 << 20};

struct FreeDeleter {
  void operator()(std::uint8_t *p) const { std::free(p); }
};
using Buffer = std::unique_ptr<std::uint8_t[], FreeDeleter>;

// Three arrays of random bytes, 64-byte aligned, shared by every benchmark
// of a size so that all of them see the same data.
struct BenchArrays {
  Buffer top, bottom, result;
};

Buffer random_buffer(std::size_t size, std::uint32_t seed) {
  Buffer buffer(static_cast<std::uint8_t *>(std::aligned_alloc(64, size)));
  std::mt19937 generator(seed);
  for (std::size_t i = 0; i < size; ++i) {
    buffer[i] = static_cast<std::uint8_t>(generator());
  }
  return buffer;
}

BenchArrays &arrays_of(std::int32_t size) {
  static std::vector<std::pair<std::int32_t, BenchArrays>> cache;
  for (auto &[cached_size, arrays] : cache) {
    if (cached_size == size) {
      return arrays;
    }
  }
  const auto bytes = static_cast<std::size_t>(size);
  cache.emplace_back(size, BenchArrays{random_buffer(bytes, 1),
                                       random_buffer(bytes, 2),
                                       random_buffer(bytes, 3)});
  return cache.back().second;
}

// The bounds at each vector width: result = top | bottom, two vectors per
// step so that the loop overhead does not hide the memory, with ordinary
// stores and with streaming ones (`result` 64-byte aligned, as every array
// here is). Written out per width: a template would not take on each
// target.
__attribute__((target("avx512f"))) void or_avx512(std::int32_t length,
                                                  const std::uint8_t *top,
                                                  const std::uint8_t *bottom,
                                                  std::uint8_t *result) {
  for (std::ptrdiff_t i = 0; i + 128 <= length; i += 128) {
    const __m512i low = _mm512_or_si512(_mm512_loadu_si512(top + i),
                                        _mm512_loadu_si512(bottom + i));
    const __m512i high = _mm512_or_si512(_mm512_loadu_si512(top + i + 64),
                                         _mm512_loadu_si512(bottom + i + 64));
    _mm512_storeu_si512(result + i, low);
    _mm512_storeu_si512(result + i + 64, high);
  }
}

__attribute__((target("avx512f"))) void
or_streaming_avx512(std::int32_t length, const std::uint8_t *top,
                    const std::uint8_t *bottom, std::uint8_t *result) {
  for (std::ptrdiff_t i = 0; i + 128 <= length; i += 128) {
    const __m512i low = _mm512_or_si512(_mm512_loadu_si512(top + i),
                                        _mm512_loadu_si512(bottom + i));
    const __m512i high = _mm512_or_si512(_mm512_loadu_si512(top + i + 64),
                                         _mm512_loadu_si512(bottom + i + 64));
    _mm512_stream_si512(reinterpret_cast<__m512i *>(result + i), low);
    _mm512_stream_si512(reinterpret_cast<__m512i *>(result + i + 64), high);
  }
  _mm_sfence();
}

template <bool kStreaming>
__attribute__((target("avx2"))) void
or_avx2(std::int32_t length, const std::uint8_t *top,
        const std::uint8_t *bottom, std::uint8_t *result) {
  const auto *t = reinterpret_cast<const __m256i *>(top);
  const auto *b = reinterpret_cast<const __m256i *>(bottom);
  auto *r = reinterpret_cast<__m256i *>(result);
  for (std::ptrdiff_t i = 0; 32 * (i + 2) <= length; i += 2) {
    const __m256i low =
        _mm256_or_si256(_mm256_loadu_si256(t + i), _mm256_loadu_si256(b + i));
    const __m256i high = _mm256_or_si256(_mm256_loadu_si256(t + i + 1),
                                         _mm256_loadu_si256(b + i + 1));
    if constexpr (kStreaming) {
      _mm256_stream_si256(r + i, low);
      _mm256_stream_si256(r + i + 1, high);
    } else {
      _mm256_storeu_si256(r + i, low);
      _mm256_storeu_si256(r + i + 1, high);
    }
  }
  _mm_sfence();
}

template <bool kStreaming>
void or_sse2(std::int32_t length, const std::uint8_t *top,
             const std::uint8_t *bottom, std::uint8_t *result) {
  const auto *t = reinterpret_cast<const __m128i *>(top);
  const auto *b = reinterpret_cast<const __m128i *>(bottom);
  auto *r = reinterpret_cast<__m128i *>(result);
  for (std::ptrdiff_t i = 0; 16 * (i + 2) <= length; i += 2) {
    const __m128i low =
        _mm_or_si128(_mm_loadu_si128(t + i), _mm_loadu_si128(b + i));
    const __m128i high =
        _mm_or_si128(_mm_loadu_si128(t + i + 1), _mm_loadu_si128(b + i + 1));
    if constexpr (kStreaming) {
      _mm_stream_si128(r + i, low);
      _mm_stream_si128(r + i + 1, high);
    } else {
      _mm_storeu_si128(r + i, low);
      _mm_storeu_si128(r + i + 1, high);
    }
  }
  _mm_sfence();
}

struct Bound {
  byteblend::Target target;
  const char *name;
  byteblend::KernelFunction *function;
};

constexpr Bound kBounds[] = {
    {byteblend::Target::avx512, "bound/avx512", or_avx512},
    {byteblend::Target::avx512, "streaming_bound/avx512", or_streaming_avx512},
    {byteblend::Target::avx2, "bound/avx2", or_avx2<false>},
    {byteblend::Target::avx2, "streaming_bound/avx2", or_avx2<true>},
    {byteblend::Target::sse2, "bound/sse2", or_sse2<false>},
    {byteblend::Target::sse2, "streaming_bound/sse2", or_sse2<true>},
};

void run_kernel(benchmark::State &state, byteblend::KernelFunction *kernel) {
  const auto length = static_cast<std::int32_t>(state.range(0));
  BenchArrays &arrays = arrays_of(length);
  // The benchmark loop idiom: its variable is never meant to be read.
  // NOLINTNEXTLINE(clang-analyzer-deadcode.DeadStores)
  for (auto _ : state) {
    kernel(length, arrays.top.get(), arrays.bottom.get(), arrays.result.get());
    benchmark::DoNotOptimize(arrays.result.get());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * length);
}

void register_kernel(const std::string &name,
                     byteblend::KernelFunction *kernel) {
  auto *benchmark = benchmark::RegisterBenchmark(
      name.c_str(),
      [kernel](benchmark::State &state) { run_kernel(state, kernel); });
  for (const std::int32_t size : kSizes) {
    benchmark->Arg(size)->UseRealTime();
  }
}

// The arrays of a size as blend() takes them.
struct ArraySpans {
  std::span<const std::uint8_t> top, bottom;
  std::span<std::uint8_t> result;
};

ArraySpans spans_of(std::int32_t length) {
  BenchArrays &arrays = arrays_of(length);
  const auto size = static_cast<std::size_t>(length);
  return {{arrays.top.get(), size},
          {arrays.bottom.get(), size},
          {arrays.result.get(), size}};
}

// One blend() call with the default thread count (Options::threads 0),
// through the C++ interface.
void register_default_threads(byteblend::Mode mode, const std::string &kernel) {
  auto *benchmark = benchmark::RegisterBenchmark(
      ("default/" + kernel).c_str(), [mode](benchmark::State &state) {
        const auto length = static_cast<std::int32_t>(state.range(0));
        const ArraySpans arrays = spans_of(length);
        // NOLINTNEXTLINE(clang-analyzer-deadcode.DeadStores)
        for (auto _ : state) {
          byteblend::blend(mode, arrays.top, arrays.bottom, arrays.result,
                           {.threads = 0});
          benchmark::ClobberMemory();
        }
        state.SetBytesProcessed(state.iterations() * length);
      });
  for (const std::int32_t size : kSizes) {
    benchmark->Arg(size)->UseRealTime();
  }
}

// The default thread count against one thread, as a caller chooses between
// them, paired: each iteration times a batch of blend() calls with
// Options::threads 1 and a batch with 0 on the same arrays, back to back
// and in alternating order, and the counter default_speedup is the median
// over the iterations of one thread's time over the default's. A spell of
// load on a shared machine then falls on both of a pair alike; the
// separate benchmarks above see different spells, and their ratio at
// 16 KiB, where both run the same code, ranged 0.75-1.21 in one run. A
// batch holds at least 1 MiB of calls, so that the clock's reads are a
// small part of it.
void default_against_one_thread(benchmark::State &state, byteblend::Mode mode) {
  const auto length = static_cast<std::int32_t>(state.range(0));
  const ArraySpans arrays = spans_of(length);
  const std::int32_t calls = std::max(1, (1 << 20) / length);
  const auto seconds_of = [calls](auto &&call) {
    const auto start = std::chrono::steady_clock::now();
    for (std::int32_t i = 0; i < calls; ++i) {
      call();
      benchmark::ClobberMemory();
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() -
                                         start)
        .count();
  };
  const auto one_thread = [&] {
    byteblend::blend(mode, arrays.top, arrays.bottom, arrays.result,
                     {.threads = 1});
  };
  const auto default_threads = [&] {
    byteblend::blend(mode, arrays.top, arrays.bottom, arrays.result,
                     {.threads = 0});
  };
  std::vector<double> speedups;
  bool default_first = false;
  // NOLINTNEXTLINE(clang-analyzer-deadcode.DeadStores)
  for (auto _ : state) {
    double one = 0;
    double all = 0;
    if (default_first) {
      all = seconds_of(default_threads);
      one = seconds_of(one_thread);
    } else {
      one = seconds_of(one_thread);
      all = seconds_of(default_threads);
    }
    default_first = !default_first;
    state.SetIterationTime(one + all);
    speedups.push_back(one / all);
  }
  const auto middle =
      speedups.begin() + static_cast<std::ptrdiff_t>(speedups.size() / 2);
  std::nth_element(speedups.begin(), middle, speedups.end());
  state.counters["default_speedup"] = *middle;
  state.SetBytesProcessed(state.iterations() * 2 * calls * length);
}

void register_default_against_one_thread(byteblend::Mode mode,
                                         const std::string &kernel) {
  auto *benchmark = benchmark::RegisterBenchmark(
      ("default_vs_one/" + kernel).c_str(), [mode](benchmark::State &state) {
        default_against_one_thread(state, mode);
      });
  for (const std::int32_t size : kSizes) {
    benchmark->Arg(size)->UseManualTime();
  }
}

// The kernel on `threads` pieces of the array through split_across_threads,
// whatever the thresholds say.
void split_kernel(byteblend::KernelFunction *kernel, std::int32_t length,
                  BenchArrays &arrays, unsigned threads) {
  byteblend::detail::split_across_threads(
      static_cast<std::size_t>(length), byteblend::detail::array_granule,
      threads, [&](std::size_t first, std::size_t last) {
        kernel(static_cast<std::int32_t>(last - first),
               arrays.top.get() + first, arrays.bottom.get() + first,
               arrays.result.get() + first);
      });
}

// A split call's overhead: the array on two threads (split/) against the
// same two pieces back to back on one (pieces/). With a kernel bound by its
// arithmetic, split/ takes half of pieces/ plus the overhead.
void register_split(const std::string &name,
                    byteblend::KernelFunction *kernel) {
  auto *split = benchmark::RegisterBenchmark(
      ("split/" + name).c_str(), [kernel](benchmark::State &state) {
        const auto length = static_cast<std::int32_t>(state.range(0));
        BenchArrays &arrays = arrays_of(length);
        // NOLINTNEXTLINE(clang-analyzer-deadcode.DeadStores)
        for (auto _ : state) {
          split_kernel(kernel, length, arrays, 2);
          benchmark::ClobberMemory();
        }
        state.SetBytesProcessed(state.iterations() * length);
      });
  auto *pieces = benchmark::RegisterBenchmark(
      ("pieces/" + name).c_str(), [kernel](benchmark::State &state) {
        const auto length = static_cast<std::int32_t>(state.range(0));
        const auto half = length / 2 / 192 * 192;
        BenchArrays &arrays = arrays_of(length);
        // NOLINTNEXTLINE(clang-analyzer-deadcode.DeadStores)
        for (auto _ : state) {
          kernel(half, arrays.top.get(), arrays.bottom.get(),
                 arrays.result.get());
          kernel(length - half, arrays.top.get() + half,
                 arrays.bottom.get() + half, arrays.result.get() + half);
          benchmark::ClobberMemory();
        }
        state.SetBytesProcessed(state.iterations() * length);
      });
  split->Arg(4 << 20)->UseRealTime();
  pieces->Arg(4 << 20)->UseRealTime();
}

// The cost of waking the pool: a split call of two empty pieces, timed
// alone after a pause long enough for the workers to go to sleep
// (pool_wake/), and back to back, with the workers still spinning
// (pool_spin/).
void register_pool_wake() {
  const auto call = [] {
    byteblend::detail::split_across_threads(2, 1, 2,
                                            [](std::size_t, std::size_t) {});
  };
  benchmark::RegisterBenchmark(
      "pool_wake/0",
      [call](benchmark::State &state) {
        call(); // the pool is started
        // NOLINTNEXTLINE(clang-analyzer-deadcode.DeadStores)
        for (auto _ : state) {
          std::this_thread::sleep_for(std::chrono::milliseconds(2));
          const auto start = std::chrono::steady_clock::now();
          call();
          state.SetIterationTime(std::chrono::duration<double>(
                                     std::chrono::steady_clock::now() - start)
                                     .count());
        }
      })
      // A fixed count: left to the minimum time, which counts only the
      // timed calls of a few microseconds, it would sleep for minutes.
      ->Iterations(200)
      ->UseManualTime();
  benchmark::RegisterBenchmark("pool_spin/0", [call](benchmark::State &state) {
    // NOLINTNEXTLINE(clang-analyzer-deadcode.DeadStores)
    for (auto _ : state) {
      call();
    }
  })->UseRealTime();
}

#ifdef BYTEBLEND_BENCH_OPENCV
template <class Operation>
void register_opencv(const std::string &name, Operation operation) {
  auto *benchmark = benchmark::RegisterBenchmark(
      name.c_str(), [operation](benchmark::State &state) {
        const auto length = static_cast<int>(state.range(0));
        BenchArrays &arrays = arrays_of(length);
        const cv::Mat top(1, length, CV_8UC1, arrays.top.get());
        const cv::Mat bottom(1, length, CV_8UC1, arrays.bottom.get());
        cv::Mat result(1, length, CV_8UC1, arrays.result.get());
        for (auto _ : state) {
          operation(top, bottom, result);
          benchmark::ClobberMemory();
        }
        state.SetBytesProcessed(state.iterations() * length);
      });
  for (const std::int32_t size : kSizes) {
    benchmark->Arg(size)->UseRealTime();
  }
}

void register_opencv_peers() {
  cv::setNumThreads(1);
  register_opencv("opencv/add", [](const cv::Mat &t, const cv::Mat &b,
                                   cv::Mat &r) { cv::add(t, b, r); });
  register_opencv("opencv/subtract", [](const cv::Mat &t, const cv::Mat &b,
                                        cv::Mat &r) { cv::subtract(t, b, r); });
  register_opencv("opencv/max", [](const cv::Mat &t, const cv::Mat &b,
                                   cv::Mat &r) { cv::max(t, b, r); });
  register_opencv("opencv/min", [](const cv::Mat &t, const cv::Mat &b,
                                   cv::Mat &r) { cv::min(t, b, r); });
  register_opencv("opencv/multiply",
                  [](const cv::Mat &t, const cv::Mat &b, cv::Mat &r) {
                    cv::multiply(t, b, r, 1.0 / 255);
                  });
  register_opencv("opencv/addWeighted",
                  [](const cv::Mat &t, const cv::Mat &b, cv::Mat &r) {
                    cv::addWeighted(t, 0.5, b, 0.5, 0, r);
                  });
}
#endif

void register_all() {
  for (const Bound &bound : kBounds) {
    if (byteblend::cpu_supports(bound.target)) {
      register_kernel(bound.name, bound.function);
    }
  }
  // The widest streaming-store bound on every core, as blend() splits it.
  for (const Bound &bound : kBounds) {
    if (byteblend::cpu_supports(bound.target) &&
        std::string(bound.name).starts_with("streaming_bound/")) {
      byteblend::KernelFunction *function = bound.function;
      auto *benchmark = benchmark::RegisterBenchmark(
          (std::string("cores_bound/") + bound.name).c_str(),
          [function](benchmark::State &state) {
            const auto length = static_cast<std::int32_t>(state.range(0));
            BenchArrays &arrays = arrays_of(length);
            // NOLINTNEXTLINE(clang-analyzer-deadcode.DeadStores)
            for (auto _ : state) {
              split_kernel(function, length, arrays, 0);
              benchmark::ClobberMemory();
            }
            state.SetBytesProcessed(state.iterations() * length);
          });
      benchmark->Arg(64 << 20)->UseRealTime();
      break;
    }
  }
#define BYTEBLEND_REGISTER_EXPORTED(name) register_kernel(#name, name);
  BYTEBLEND_FOR_EACH_KERNEL(BYTEBLEND_REGISTER_EXPORTED)
#undef BYTEBLEND_REGISTER_EXPORTED
  for (const byteblend::Implementation &implementation :
       byteblend::implementations()) {
    if (byteblend::cpu_supports(implementation.target)) {
      register_kernel(
          std::string(byteblend::target_name(implementation.target)) + "/" +
              std::string(implementation.kernel),
          implementation.function);
    }
  }
  using byteblend::Mode;
  const std::pair<Mode, const char *> exported[] = {
      {Mode::addition, "AdditionBlend"},
      {Mode::subtraction, "SubtractionBlend"},
      {Mode::multiplication, "MultiplicationBlend"},
      {Mode::screen, "ScreenBlend"},
      {Mode::red_channel, "RedChannelBlend"},
      {Mode::green_channel, "GreenChannelBlend"},
      {Mode::blue_channel, "BlueChannelBlend"},
      {Mode::opacity, "OpacityBlend"},
      {Mode::overlay, "OverlayBlend"},
      {Mode::lighten, "LightenBlend"},
      {Mode::darken, "DarkenBlend"},
      {Mode::color_dodge, "ColorDodgeBlend"},
      {Mode::color_burn, "ColorBurnBlend"}};
  for (const auto &[mode, kernel] : exported) {
    register_default_threads(mode, kernel);
    register_default_against_one_thread(mode, kernel);
  }
  register_split("ColorDodgeBlend", ColorDodgeBlend);
  register_split("AdditionBlend", AdditionBlend);
  register_pool_wake();
#ifdef BYTEBLEND_BENCH_OPENCV
  register_opencv_peers();
#endif
}

} // namespace

int main(int argc, char **argv) {
  register_all();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
