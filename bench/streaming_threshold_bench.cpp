// SPDX-License-Identifier: MIT
// Where streaming stores start to pay: the AVX-512 element loop of a few
// kernels with ordinary stores and with the streamed body, side by side at
// sizes around the caches, on the same arrays blended again and again. The
// library's kStreamingFrom is chosen from this (see element_loop.hpp).
//
//   streaming_threshold_bench --benchmark_repetitions=5
//       --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "cpu_features.hpp"
#include "element_loop.hpp"
#include "formulas/direct.hpp"
#include "formulas/normalized.hpp"
#include "lanes/avx512.hpp"

namespace {

namespace kernels = byteblend::BYTEBLEND_TARGET_NAMESPACE;
using L = kernels::Avx512Lanes;

struct FreeDeleter {
  void operator()(std::uint8_t *p) const { std::free(p); }
};
using Buffer = std::unique_ptr<std::uint8_t[], FreeDeleter>;

Buffer filled_buffer(std::size_t size, std::uint8_t seed) {
  Buffer buffer(static_cast<std::uint8_t *>(std::aligned_alloc(64, size)));
  for (std::size_t i = 0; i < size; ++i) {
    buffer[i] = static_cast<std::uint8_t>(i * 131 + seed);
  }
  return buffer;
}

template <class Formula, bool kStreaming> void run(benchmark::State &state) {
  const auto length = static_cast<std::ptrdiff_t>(state.range(0));
  const auto size = static_cast<std::size_t>(length);
  const Buffer top = filled_buffer(size, 1);
  const Buffer bottom = filled_buffer(size, 2);
  const Buffer result = filled_buffer(size, 3);
  // The benchmark loop idiom: its variable is never meant to be read.
  // NOLINTNEXTLINE(clang-analyzer-deadcode.DeadStores)
  for (auto _ : state) {
    if constexpr (kStreaming) {
      kernels::blend_range_streaming<L, Formula>(length, top.get(),
                                                 bottom.get(), result.get());
    } else {
      kernels::blend_range<L, Formula>(0, length, top.get(), bottom.get(),
                                       result.get());
    }
    benchmark::DoNotOptimize(result.get());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * length);
}

template <class Formula> void register_both(const std::string &name) {
  for (const bool streaming : {false, true}) {
    auto *benchmark = benchmark::RegisterBenchmark(
        (name + (streaming ? "/streaming" : "/ordinary")).c_str(),
        streaming ? run<Formula, true> : run<Formula, false>);
    for (int mebibytes = 1; mebibytes <= 64; mebibytes *= 2) {
      benchmark->Arg(std::int64_t{mebibytes} << 20);
    }
  }
}

} // namespace

int main(int argc, char **argv) {
  if (!byteblend::cpu_supports(byteblend::Target::avx512)) {
    return 0;
  }
  register_both<kernels::Addition>("addition");
  register_both<kernels::Multiplication>("multiplication");
  register_both<kernels::Opacity>("opacity");
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
