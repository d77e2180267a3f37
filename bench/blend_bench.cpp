// Throughput of every kernel beside what bounds it, in one run: the
// streaming bound (two vector loads and one store per vector, at the widest
// instruction set the CPU runs), each kernel through its exported name and
// through each per-instruction-set build, and, when OpenCV is available, its
// single-threaded peers on the same arrays. Bytes per second count `length`.
//
//   byteblend_bench --benchmark_filter=... (see bench/report.py)
#include <benchmark/benchmark.h>
#include <immintrin.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "byteblend.h"
#include "implementations.hpp"

#ifdef BYTEBLEND_BENCH_OPENCV
#include <opencv2/core.hpp>
#endif

namespace {

constexpr std::int32_t kSizes[] = {16 << 10, 1 << 20, 64 << 20};

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

// The streaming bound at each vector width: result = top | bottom, two
// vectors per step so that the loop overhead does not hide the memory.
// Written out per width: a template would not take on each target.
__attribute__((target("avx512f"))) void
stream_or_avx512(std::int32_t length, const std::uint8_t *top,
                 const std::uint8_t *bottom, std::uint8_t *result) {
  for (std::ptrdiff_t i = 0; i + 128 <= length; i += 128) {
    const __m512i low = _mm512_or_si512(_mm512_loadu_si512(top + i),
                                        _mm512_loadu_si512(bottom + i));
    const __m512i high = _mm512_or_si512(_mm512_loadu_si512(top + i + 64),
                                         _mm512_loadu_si512(bottom + i + 64));
    _mm512_storeu_si512(result + i, low);
    _mm512_storeu_si512(result + i + 64, high);
  }
}

__attribute__((target("avx2"))) void stream_or_avx2(std::int32_t length,
                                                    const std::uint8_t *top,
                                                    const std::uint8_t *bottom,
                                                    std::uint8_t *result) {
  const auto *t = reinterpret_cast<const __m256i *>(top);
  const auto *b = reinterpret_cast<const __m256i *>(bottom);
  auto *r = reinterpret_cast<__m256i *>(result);
  for (std::ptrdiff_t i = 0; 32 * (i + 2) <= length; i += 2) {
    const __m256i low =
        _mm256_or_si256(_mm256_loadu_si256(t + i), _mm256_loadu_si256(b + i));
    const __m256i high = _mm256_or_si256(_mm256_loadu_si256(t + i + 1),
                                         _mm256_loadu_si256(b + i + 1));
    _mm256_storeu_si256(r + i, low);
    _mm256_storeu_si256(r + i + 1, high);
  }
}

void stream_or_sse2(std::int32_t length, const std::uint8_t *top,
                    const std::uint8_t *bottom, std::uint8_t *result) {
  const auto *t = reinterpret_cast<const __m128i *>(top);
  const auto *b = reinterpret_cast<const __m128i *>(bottom);
  auto *r = reinterpret_cast<__m128i *>(result);
  for (std::ptrdiff_t i = 0; 16 * (i + 2) <= length; i += 2) {
    const __m128i low =
        _mm_or_si128(_mm_loadu_si128(t + i), _mm_loadu_si128(b + i));
    const __m128i high =
        _mm_or_si128(_mm_loadu_si128(t + i + 1), _mm_loadu_si128(b + i + 1));
    _mm_storeu_si128(r + i, low);
    _mm_storeu_si128(r + i + 1, high);
  }
}

byteblend::KernelFunction *widest_stream_or() {
  if (byteblend::cpu_supports(byteblend::Target::avx512)) {
    return stream_or_avx512;
  }
  if (byteblend::cpu_supports(byteblend::Target::avx2)) {
    return stream_or_avx2;
  }
  return stream_or_sse2;
}

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
    benchmark->Arg(size);
  }
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
    benchmark->Arg(size);
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
  register_kernel("bound/stream_or", widest_stream_or());
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
