// SPDX-License-Identifier: MIT
// The layer functions beside what they are measured against, in one run:
// the byte-by-byte form with an opacity on 1080p RGB against the plain
// kernel of the same mode, the same at 64 MiB against the ordinary-store
// bound (two loads, one store per vector), and 1080p RGBA composites, atop
// and over, against the plain kernel on the same bytes. Wall-clock time,
// bytes per second counting the result's bytes.
//
//   byteblend_layers_bench --benchmark_repetitions=7
//     --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <immintrin.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>

#include "byteblend.h"
#include "byteblend_layers.h"
#include "cpu_features.hpp"

namespace {

constexpr std::int32_t kRgb1080p = 1920 * 1080 * 3;
constexpr std::int32_t kRgba1080p = 1920 * 1080 * 4;
constexpr std::int32_t k64MiB = 64 << 20;

struct FreeDeleter {
  void operator()(std::uint8_t *p) const { std::free(p); }
};
using Buffer = std::unique_ptr<std::uint8_t[], FreeDeleter>;

Buffer random_buffer(std::size_t size, std::uint32_t seed) {
  Buffer buffer(static_cast<std::uint8_t *>(std::aligned_alloc(64, size)));
  std::mt19937 generator(seed);
  for (std::size_t i = 0; i < size; ++i) {
    buffer[i] = static_cast<std::uint8_t>(generator());
  }
  return buffer;
}

struct Arrays {
  Buffer top = random_buffer(k64MiB, 1);
  Buffer bottom = random_buffer(k64MiB, 2);
  Buffer result = random_buffer(k64MiB, 3);
};

Arrays &arrays() {
  static Arrays shared;
  return shared;
}

// The ordinary-store bound with the widest vectors here, as blend_bench's
// bound/avx512.
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

void run(benchmark::State &state, std::int64_t bytes,
         const std::function<void(Arrays &)> &call) {
  Arrays &a = arrays();
  // The benchmark loop idiom: its variable is never meant to be read.
  // NOLINTNEXTLINE(clang-analyzer-deadcode.DeadStores)
  for (auto _ : state) {
    call(a);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * bytes);
}

void register_flat(const char *name, std::int32_t length) {
  benchmark::RegisterBenchmark(
      (std::string("plain/multiplication/") + name).c_str(),
      [length](benchmark::State &state) {
        run(state, length, [length](Arrays &a) {
          MultiplicationBlend(length, a.top.get(), a.bottom.get(),
                              a.result.get());
        });
      })
      ->UseRealTime();
  benchmark::RegisterBenchmark(
      (std::string("opacity/multiplication/") + name).c_str(),
      [length](benchmark::State &state) {
        run(state, length, [length](Arrays &a) {
          byteblend_blend_with_opacity(BYTEBLEND_MODE_MULTIPLICATION, length,
                                       a.top.get(), a.bottom.get(),
                                       a.result.get(), 128);
        });
      })
      ->UseRealTime();
}

void register_composite(const char *name, int blend_operator) {
  benchmark::RegisterBenchmark(name, [blend_operator](benchmark::State &state) {
    run(state, kRgba1080p, [blend_operator](Arrays &a) {
      byteblend_composite(BYTEBLEND_MODE_MULTIPLICATION, blend_operator,
                          kRgba1080p / 4, a.top.get(), 4, a.bottom.get(), 4,
                          a.result.get(), 200);
    });
  })->UseRealTime();
}

void register_all() {
  register_flat("rgb_1080p", kRgb1080p);
  register_flat("64MiB", k64MiB);
  if (byteblend::cpu_supports(byteblend::Target::avx512)) {
    benchmark::RegisterBenchmark("bound/avx512/64MiB", [](benchmark::State
                                                              &state) {
      run(state, k64MiB, [](Arrays &a) {
        or_avx512(k64MiB, a.top.get(), a.bottom.get(), a.result.get());
      });
    })->UseRealTime();
  }
  benchmark::RegisterBenchmark("plain/multiplication/rgba_1080p",
                               [](benchmark::State &state) {
                                 run(state, kRgba1080p, [](Arrays &a) {
                                   MultiplicationBlend(kRgba1080p, a.top.get(),
                                                       a.bottom.get(),
                                                       a.result.get());
                                 });
                               })
      ->UseRealTime();
  register_composite("atop/multiplication/rgba_1080p", BYTEBLEND_OPERATOR_ATOP);
  register_composite("over/multiplication/rgba_1080p", BYTEBLEND_OPERATOR_OVER);
}

} // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  register_all();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
