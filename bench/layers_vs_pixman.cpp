// SPDX-License-Identifier: MIT
// byteblend's over composite against pixman's operators of the same name, in
// one run: 1080p RGBA onto RGBA, on one thread. pixman composites
// premultiplied a8r8g8b8 images; its separable blend operators are source-over
// with the blend function, as byteblend's over is, so each byteblend mode
// meets the pixman operator that computes the same picture: normal and
// PIXMAN_OP_OVER, multiplication and PIXMAN_OP_MULTIPLY, and so on. Addition
// has no such peer: PIXMAN_OP_ADD adds the alphas too (plus, not over).
//
// Both sides get the same pixels, pixman's premultiplied beforehand: random
// colours and alphas on the bottom, random colours on the top with either
// random alphas or a logo's (mostly fully transparent or fully opaque, with
// antialiased edges; pixman's OVER skips such pixels). Both write onto a
// fresh copy of the bottom (pixman composites into its destination, and
// byteblend takes the bottom as its result too); the copy is not timed.
// Each pixman benchmark also reports how far its picture is from
// byteblend's, so that the two are seen to compute the same thing: the
// largest difference of an alpha, and of a colour byte (pixman's
// unpremultiplied, where the result's alpha is at least 128, which leaves
// a few steps of rounding), and the share of those colour bytes more than 5
// apart. That share is not 0 for dodge and burn only, whose results jump at
// t = 255 (dodge) and t = 0 (burn): premultiplied to 8 bits, a top near the
// jump can land on it, and at t = 255, b = 0 (dodge) and t = 0, b = 255
// (burn) byteblend's result is the other end of the range from pixman's.
//
// The time is the calling thread's CPU time, not the wall clock's: the
// machines this runs on are shared, and both sides run on one thread.
//
//   byteblend_layers_pixman_bench --benchmark_repetitions=7
//     --benchmark_enable_random_interleaving=true
//     --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <utility>

#include "byteblend_layers.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr std::int32_t kPixels = kWidth * kHeight;
constexpr std::size_t kBytes = std::size_t{kPixels} * 4;

struct Pairing {
  const char *name;
  int mode;
  pixman_op_t op;
  const char *op_name;
};

constexpr std::array kPairings = {
    Pairing{"normal", BYTEBLEND_MODE_NORMAL, PIXMAN_OP_OVER, "OVER"},
    Pairing{"multiplication", BYTEBLEND_MODE_MULTIPLICATION, PIXMAN_OP_MULTIPLY,
            "MULTIPLY"},
    Pairing{"screen", BYTEBLEND_MODE_SCREEN, PIXMAN_OP_SCREEN, "SCREEN"},
    Pairing{"overlay", BYTEBLEND_MODE_OVERLAY, PIXMAN_OP_OVERLAY, "OVERLAY"},
    Pairing{"darken", BYTEBLEND_MODE_DARKEN, PIXMAN_OP_DARKEN, "DARKEN"},
    Pairing{"lighten", BYTEBLEND_MODE_LIGHTEN, PIXMAN_OP_LIGHTEN, "LIGHTEN"},
    Pairing{"color-dodge", BYTEBLEND_MODE_COLOR_DODGE, PIXMAN_OP_COLOR_DODGE,
            "COLOR_DODGE"},
    Pairing{"color-burn", BYTEBLEND_MODE_COLOR_BURN, PIXMAN_OP_COLOR_BURN,
            "COLOR_BURN"},
};

struct FreeDeleter {
  void operator()(void *p) const { std::free(p); }
};
// 64-byte aligned, for both sides alike.
using Buffer = std::unique_ptr<std::uint8_t[], FreeDeleter>;

Buffer buffer() {
  return Buffer(static_cast<std::uint8_t *>(std::aligned_alloc(64, kBytes)));
}

// The alpha of a logo: rings on a 240-pixel grid, one pixel of antialiased
// edge on either side of each.
std::uint8_t logo_alpha(int x, int y) {
  const double dx = (x % 240) - 119.5;
  const double dy = (y % 240) - 119.5;
  const double distance = std::abs(std::hypot(dx, dy) - 70.0);
  const double coverage = std::clamp(30.0 - distance, 0.0, 1.0);
  return static_cast<std::uint8_t>(std::lround(coverage * 255.0));
}

// round(c a / 255)
std::uint32_t premultiply(std::uint32_t c, std::uint32_t a) {
  const std::uint32_t p = c * a + 128;
  return (p + (p >> 8)) >> 8;
}

// The same pixels straight (RGBA bytes) and premultiplied (a8r8g8b8).
struct Images {
  Buffer top = buffer();
  Buffer bottom = buffer();
  Buffer top_premultiplied = buffer();
  Buffer bottom_premultiplied = buffer();
  Buffer destination = buffer();

  explicit Images(bool logo) {
    std::mt19937 generator(1);
    for (std::size_t i = 0; i < kBytes; ++i) {
      top[i] = static_cast<std::uint8_t>(generator());
      bottom[i] = static_cast<std::uint8_t>(generator());
    }
    if (logo) {
      for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
          top[(static_cast<std::size_t>(y) * kWidth +
               static_cast<std::size_t>(x)) *
                  4 +
              3] = logo_alpha(x, y);
        }
      }
    }
    to_a8r8g8b8(top.get(), top_premultiplied.get());
    to_a8r8g8b8(bottom.get(), bottom_premultiplied.get());
  }

  static void to_a8r8g8b8(const std::uint8_t *rgba, std::uint8_t *out) {
    for (std::size_t i = 0; i < kBytes; i += 4) {
      const std::uint32_t a = rgba[i + 3];
      const std::uint32_t pixel = a << 24U | premultiply(rgba[i], a) << 16U |
                                  premultiply(rgba[i + 1], a) << 8U |
                                  premultiply(rgba[i + 2], a);
      std::memcpy(out + i, &pixel, 4);
    }
  }
};

Images &images(bool logo) {
  static Images random_alpha(false);
  static Images logo_alphas(true);
  return logo ? logo_alphas : random_alpha;
}

pixman_image_t *wrap(std::uint8_t *pixels) {
  return pixman_image_create_bits(PIXMAN_a8r8g8b8, kWidth, kHeight,
                                  reinterpret_cast<std::uint32_t *>(pixels),
                                  kWidth * 4);
}

void byteblend_over(const Pairing &pairing, Images &in) {
  byteblend_composite(pairing.mode, BYTEBLEND_OPERATOR_OVER, kPixels,
                      in.top.get(), 4, in.destination.get(), 4,
                      in.destination.get(), 255);
}

void pixman_over(const Pairing &pairing, Images &in) {
  pixman_image_t *source = wrap(in.top_premultiplied.get());
  pixman_image_t *destination = wrap(in.destination.get());
  pixman_image_composite32(pairing.op, source, nullptr, destination, 0, 0, 0, 0,
                           0, 0, kWidth, kHeight);
  pixman_image_unref(source);
  pixman_image_unref(destination);
}

struct Differences {
  int colour = 0;
  int alpha = 0;
  double far_share = 0;
};

// Between pixman's picture and byteblend's, as the top of this file says.
Differences differences(const Pairing &pairing, Images &in) {
  std::memcpy(in.destination.get(), in.bottom.get(), kBytes);
  byteblend_over(pairing, in);
  const Buffer ours = buffer();
  std::memcpy(ours.get(), in.destination.get(), kBytes);
  std::memcpy(in.destination.get(), in.bottom_premultiplied.get(), kBytes);
  pixman_over(pairing, in);
  Differences found;
  std::size_t compared = 0;
  std::size_t far = 0;
  for (std::size_t i = 0; i < kBytes; i += 4) {
    std::uint32_t pixel = 0;
    std::memcpy(&pixel, in.destination.get() + i, 4);
    const int a = static_cast<int>(pixel >> 24U);
    found.alpha = std::max(found.alpha, std::abs(a - ours[i + 3]));
    if (ours[i + 3] < 128 || a == 0) {
      continue;
    }
    for (unsigned c = 0; c < 3; ++c) {
      const int premultiplied =
          static_cast<int>((pixel >> (16U - 8U * c)) & 0xffU);
      const int straight = (premultiplied * 255 + a / 2) / a;
      const int difference = std::abs(straight - ours[i + c]);
      found.colour = std::max(found.colour, difference);
      ++compared;
      far += difference > 5 ? 1 : 0;
    }
  }
  found.far_share = static_cast<double>(far) / static_cast<double>(compared);
  return found;
}

double thread_seconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) +
         static_cast<double>(now.tv_nsec) * 1e-9;
}

// Each call on a fresh copy of its destination, the copy untimed.
void run(benchmark::State &state, const std::uint8_t *bottom, Images &in,
         const std::function<void()> &call) {
  // The benchmark loop idiom: its variable is never meant to be read.
  // NOLINTNEXTLINE(clang-analyzer-deadcode.DeadStores)
  for (auto _ : state) {
    std::memcpy(in.destination.get(), bottom, kBytes);
    const double start = thread_seconds();
    call();
    const double end = thread_seconds();
    benchmark::DoNotOptimize(in.destination.get());
    benchmark::ClobberMemory();
    state.SetIterationTime(end - start);
  }
  state.SetItemsProcessed(state.iterations() * kPixels);
}

void register_all() {
  for (const bool logo : {false, true}) {
    const std::string alpha = logo ? "/logo_alpha" : "/random_alpha";
    for (const Pairing &pairing : kPairings) {
      benchmark::RegisterBenchmark(
          ("byteblend/" + std::string(pairing.name) + alpha).c_str(),
          [&pairing, logo](benchmark::State &state) {
            Images &in = images(logo);
            run(state, in.bottom.get(), in,
                [&pairing, &in] { byteblend_over(pairing, in); });
          })
          ->UseManualTime();
      benchmark::RegisterBenchmark(
          ("pixman/" + std::string(pairing.name) + alpha).c_str(),
          [&pairing, logo](benchmark::State &state) {
            Images &in = images(logo);
            // Once for each pairing and alpha, not for every repetition.
            static std::map<std::pair<const Pairing *, bool>, Differences>
                found;
            const auto [entry, added] =
                found.try_emplace(std::make_pair(&pairing, logo));
            if (added) {
              entry->second = differences(pairing, in);
            }
            const Differences &difference = entry->second;
            run(state, in.bottom_premultiplied.get(), in,
                [&pairing, &in] { pixman_over(pairing, in); });
            state.SetLabel(std::string("PIXMAN_OP_") + pairing.op_name);
            state.counters["colour_difference"] = difference.colour;
            state.counters["alpha_difference"] = difference.alpha;
            state.counters["colour_far_share"] = difference.far_share;
          })
          ->UseManualTime();
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
