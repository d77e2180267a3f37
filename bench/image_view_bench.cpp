// SPDX-License-Identifier: MIT
// The image-view blend beside the flat blend of the same bytes, in one run:
// what keeping RGBA's alpha, padded rows and the channel modes on RGBA cost.
// Full HD images and small tiles; bytes per second count every byte of the
// pixels. Placed/...: the tool's `--at` with TOP partly off BOTTOM (17 MiB
// images), on 1 and 2 threads.
//
//   byteblend_image_view_bench --benchmark_repetitions=9
//       --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "byteblend_image.hpp"

namespace {

using byteblend::Mode;

struct Size {
  const char *name;
  std::size_t width, height;
};
// Full HD, from memory; and a tile whose three images stay in the
// second-level cache.
constexpr Size kSizes[] = {{"1920x1080", 1920, 1080}, {"256x256", 256, 256}};
// Padding after each row of the padded images.
constexpr std::size_t kPadding = 64;

std::vector<std::uint8_t> random_bytes(std::size_t size, unsigned seed) {
  std::mt19937 engine(seed);
  std::vector<std::uint8_t> bytes(size);
  for (auto &b : bytes) {
    b = static_cast<std::uint8_t>(engine());
  }
  return bytes;
}

struct Images {
  std::size_t width, height, channels, stride;
  std::vector<std::uint8_t> top, bottom, result;

  Images(Size size, std::size_t c, std::size_t padding)
      : width(size.width), height(size.height), channels(c),
        stride(width * c + padding), top(random_bytes(stride * height, 1)),
        bottom(random_bytes(stride * height, 2)),
        result(random_bytes(stride * height, 3)) {}
};

void count_bytes(benchmark::State &state, const Images &images) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(
                              images.width * images.height * images.channels));
}

// The flat blend of the pixels' bytes, no view: the floor.
void flat(benchmark::State &state, Size size, Mode mode, std::size_t channels) {
  Images images(size, channels, 0);
  // NOLINTNEXTLINE(clang-analyzer-deadcode.DeadStores)
  for (auto _ : state) {
    byteblend::blend(mode, images.top, images.bottom, images.result);
    benchmark::ClobberMemory();
  }
  count_bytes(state, images);
}

void view(benchmark::State &state, Size size, Mode mode, std::size_t channels,
          std::size_t padding) {
  Images images(size, channels, padding);
  const byteblend::ImageView top(images.top.data(), size.width, size.height,
                                 channels, images.stride);
  const byteblend::ImageView bottom(images.bottom.data(), size.width,
                                    size.height, channels, images.stride);
  const byteblend::MutableImageView result(
      images.result.data(), size.width, size.height, channels, images.stride);
  // NOLINTNEXTLINE(clang-analyzer-deadcode.DeadStores)
  for (auto _ : state) {
    byteblend::blend(mode, top, bottom, result);
    benchmark::ClobberMemory();
  }
  count_bytes(state, images);
}

// RGBA the other way: the whole image blended flat, then bottom's alpha
// copied over in a second pass (right only when result is not bottom).
void rgba_two_passes(benchmark::State &state, Size size, Mode mode) {
  Images images(size, 4, 0);
  // NOLINTNEXTLINE(clang-analyzer-deadcode.DeadStores)
  for (auto _ : state) {
    byteblend::blend(mode, images.top, images.bottom, images.result);
    for (std::size_t i = 3; i < images.result.size(); i += 4) {
      images.result[i] = images.bottom[i];
    }
    benchmark::ClobberMemory();
  }
  count_bytes(state, images);
}

// The tool's `--at` on a partial overlap: TOP placed partly off BOTTOM's
// left edge, so that neither image's rows are whole in the overlap, blended
// as the tool does it, through sub-rectangles of the two, on `threads`.
void placed(benchmark::State &state, Mode mode, unsigned threads) {
  constexpr Size kImage = {"3000x2000", 3000, 2000};
  constexpr std::size_t kLeft = 500;
  constexpr std::size_t kDown = 200;
  Images images(kImage, 3, 0);
  const byteblend::ImageView top(
      byteblend::ImageView(images.top.data(), kImage.width, kImage.height, 3),
      kLeft, 0, kImage.width - kLeft, kImage.height - kDown);
  const byteblend::MutableImageView bottom(
      byteblend::MutableImageView(images.bottom.data(), kImage.width,
                                  kImage.height, 3),
      0, kDown, kImage.width - kLeft, kImage.height - kDown);
  // NOLINTNEXTLINE(clang-analyzer-deadcode.DeadStores)
  for (auto _ : state) {
    byteblend::blend(mode, top, bottom, bottom, {.threads = threads});
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(
      static_cast<std::int64_t>(state.iterations()) *
      static_cast<std::int64_t>(top.row_bytes() * top.height()));
}

void register_all() {
  for (const Mode mode : {Mode::color_dodge, Mode::screen}) {
    for (const unsigned threads : {1U, 2U}) {
      const std::string name = "Placed/" + std::string(byteblend::name(mode)) +
                               "/threads:" + std::to_string(threads);
      benchmark::RegisterBenchmark(name.c_str(), placed, mode, threads)
          ->UseRealTime();
    }
  }
  for (const Size size : kSizes) {
    for (const Mode mode :
         {Mode::screen, Mode::addition, Mode::green_channel}) {
      const std::string name =
          std::string(byteblend::name(mode)) + '/' + size.name;
      const auto add = [&](const std::string &what, auto function,
                           auto... arguments) {
        std::string full = what;
        full += '/';
        full += name;
        benchmark::RegisterBenchmark(full.c_str(), function, size, mode,
                                     arguments...);
      };
      add("Flat/rgb", flat, std::size_t{3});
      add("Flat/rgba-bytes", flat, std::size_t{4});
      add("View/rgb/packed", view, std::size_t{3}, std::size_t{0});
      add("View/rgb/padded", view, std::size_t{3}, kPadding);
      add("View/rgba/packed", view, std::size_t{4}, std::size_t{0});
      add("View/rgba/padded", view, std::size_t{4}, kPadding);
      if (mode != Mode::green_channel) {
        add("TwoPasses/rgba", rgba_two_passes);
      }
    }
  }
}

} // namespace

int main(int argc, char **argv) {
  register_all();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
