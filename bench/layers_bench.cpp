// SPDX-License-Identifier: MIT
// The layer functions beside what they are measured against, in one run:
// the byte-by-byte form with an opacity on 1080p RGB against the plain
// kernel of the same mode, the same at 64 MiB against the ordinary-store
// bound (two loads, one store per vector), and 1080p composites of an RGBA
// top onto an RGBA or an RGB bottom, atop and over, against the plain kernel
// over as many bytes as the result has. The composites run on two kinds of
// alpha: uniformly random, and a logo's (discs fully opaque inside, fully
// transparent outside, with soft edges, over a mostly opaque bottom with
// transparent holes). Wall-clock time, bytes per second counting the
// result's bytes.
//
//   byteblend_layers_bench --benchmark_repetitions=7
//     --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <string>

#include "byteblend.h"
#include "byteblend_layers.h"
#include "cpu_features.hpp"

namespace {

constexpr std::int32_t kRgb1080p = 1920 * 1080 * 3;
constexpr std::int32_t kRgba1080p = 1920 * 1080 * 4;
constexpr std::int32_t k64MiB = 64 << 20;
constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

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

// 255 inside discs of radius 100 on a grid 320 pixels apart, 0 outside,
// with a ramp four pixels wide between; `shift` moves the grid.
std::uint8_t logo_alpha(int x, int y, int shift) {
  const double dx = (x + shift) % 320 - 160.0;
  const double dy = (y + shift) % 320 - 160.0;
  const double inside = (100.0 - std::sqrt(dx * dx + dy * dy)) / 4.0;
  return static_cast<std::uint8_t>(
      std::lround(std::clamp(inside, 0.0, 1.0) * 255.0));
}

// The random arrays with logo-like alpha bytes: the top's alpha a logo, the
// bottom's (where it is RGBA) opaque but for logo-shaped holes.
void give_logo_alpha(Arrays &a) {
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const std::size_t pixel =
          static_cast<std::size_t>(y) * kWidth + static_cast<std::size_t>(x);
      a.top[pixel * 4 + 3] = logo_alpha(x, y, 0);
      a.bottom[pixel * 4 + 3] =
          static_cast<std::uint8_t>(255 - logo_alpha(x, y, 160));
    }
  }
}

Arrays &logo_arrays() {
  static Arrays shared;
  static const bool given = (give_logo_alpha(shared), true);
  static_cast<void>(given);
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
         const std::function<void(Arrays &)> &call, Arrays &a = arrays()) {
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

// An RGBA top onto a `bottom_channels` bottom at opacity 200.
void register_composite(const std::string &name, int blend_operator,
                        int bottom_channels, bool logo) {
  const std::int32_t bytes = kWidth * kHeight * bottom_channels;
  benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State &state) {
    run(
        state, bytes,
        [=](Arrays &a) {
          byteblend_composite(BYTEBLEND_MODE_MULTIPLICATION, blend_operator,
                              kWidth * kHeight, a.top.get(), 4, a.bottom.get(),
                              bottom_channels, a.result.get(), 200);
        },
        logo ? logo_arrays() : arrays());
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
  for (const bool logo : {false, true}) {
    for (const int bottom_channels : {4, 3}) {
      for (const int op : {BYTEBLEND_OPERATOR_ATOP, BYTEBLEND_OPERATOR_OVER}) {
        register_composite(
            std::string(op == BYTEBLEND_OPERATOR_ATOP ? "atop" : "over") +
                "/multiplication/" + (logo ? "logo_alpha" : "random_alpha") +
                (bottom_channels == 4 ? "/rgba_onto_rgba" : "/rgba_onto_rgb"),
            op, bottom_channels, logo);
      }
    }
  }
}

} // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  register_all();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
