// byteblend for C++20: the thirteen blend modes as an enum, their names, and
// one blend() for arrays of any size. Header-only; it calls the C functions
// of byteblend.h, so link libbyteblend as for C.
//
//   std::vector<std::uint8_t> out(top.size());
//   byteblend::blend(byteblend::Mode::screen, top, bottom, out);
#ifndef BYTEBLEND_HPP
#define BYTEBLEND_HPP

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
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

enum class Mode {
  addition,
  subtraction,
  multiplication,
  screen,
  overlay,
  lighten,
  darken,
  color_dodge,
  color_burn,
  opacity,
  red_channel,
  green_channel,
  blue_channel,
};

// Every mode, in the order of the enum.
inline constexpr std::array<Mode, 13> all_modes = {
    Mode::addition,    Mode::subtraction, Mode::multiplication,
    Mode::screen,      Mode::overlay,     Mode::lighten,
    Mode::darken,      Mode::color_dodge, Mode::color_burn,
    Mode::opacity,     Mode::red_channel, Mode::green_channel,
    Mode::blue_channel};

// The mode's name: "addition", ..., "color-dodge", ..., "blue-channel".
constexpr std::string_view name(Mode mode) {
  switch (mode) {
  case Mode::addition:
    return "addition";
  case Mode::subtraction:
    return "subtraction";
  case Mode::multiplication:
    return "multiplication";
  case Mode::screen:
    return "screen";
  case Mode::overlay:
    return "overlay";
  case Mode::lighten:
    return "lighten";
  case Mode::darken:
    return "darken";
  case Mode::color_dodge:
    return "color-dodge";
  case Mode::color_burn:
    return "color-burn";
  case Mode::opacity:
    return "opacity";
  case Mode::red_channel:
    return "red-channel";
  case Mode::green_channel:
    return "green-channel";
  case Mode::blue_channel:
    return "blue-channel";
  }
  return "unknown";
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
using KernelFunction = void(std::int32_t length, const std::uint8_t *top,
                            const std::uint8_t *bottom, std::uint8_t *result);

constexpr KernelFunction *kernel(Mode mode) {
  switch (mode) {
  case Mode::addition:
    return AdditionBlend;
  case Mode::subtraction:
    return SubtractionBlend;
  case Mode::multiplication:
    return MultiplicationBlend;
  case Mode::screen:
    return ScreenBlend;
  case Mode::overlay:
    return OverlayBlend;
  case Mode::lighten:
    return LightenBlend;
  case Mode::darken:
    return DarkenBlend;
  case Mode::color_dodge:
    return ColorDodgeBlend;
  case Mode::color_burn:
    return ColorBurnBlend;
  case Mode::opacity:
    return OpacityBlend;
  case Mode::red_channel:
    return RedChannelBlend;
  case Mode::green_channel:
    return GreenChannelBlend;
  case Mode::blue_channel:
    return BlueChannelBlend;
  }
  return nullptr;
}

// The kernels take a signed 32-bit length, so blend() hands them the arrays
// in pieces of at most this many bytes: 768 MiB, a multiple of 3 so that a
// piece always starts on a pixel and the channel modes stay on their channel.
inline constexpr std::size_t default_chunk = std::size_t{3} << 28;

// How blend() runs.
struct Options {
  // Threads to blend on: 1 keeps the work on the calling thread, 0 means one
  // per core, and arrays too small to gain from more threads stay on the
  // calling thread whatever the count. The bytes are the same for every
  // count.
  unsigned threads = 1;
  // Each kernel call takes at most this many bytes: a positive multiple of 3
  // below 2^31.
  std::size_t chunk = default_chunk;
};

// Arrays shorter than this stay on the calling thread whatever
// Options::threads says: below it, starting and joining the other threads
// costs more than they save. Measured with byteblend_bench's split/ and
// single/ benchmarks (AMD EPYC, two cores; medians of 5), two threads
// against one, AdditionBlend and MultiplicationBlend: 0.27 and 0.24 at
// 256 KiB, 0.75 and 0.66 at 1 MiB, 1.00 and 0.97 at 2 MiB, 1.14 and 1.23 at
// 4 MiB, 1.66 and 1.36 at 8 MiB.
inline constexpr std::size_t threaded_from = std::size_t{4} << 20;

namespace detail {

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

// Calls work(first, last) on contiguous ranges that together cover
// [0, count) exactly once, each range on its own thread (the calling thread
// takes the first), and returns when all are done. Each range's first index
// is a multiple of granule (positive). threads 0 means one per core; with
// threads 1 it is work(0, count) on the calling thread. An exception from
// work on any thread is rethrown here once every range is done (the first
// range's, else the next one's); a thread that cannot be started leaves its
// range to the calling thread.
template <class Work>
void split_across_threads(std::size_t count, std::size_t granule,
                          unsigned threads, Work work) {
  if (threads == 0) {
    threads = std::max(1U, std::thread::hardware_concurrency());
  }
  const std::size_t granules = count / granule + (count % granule != 0 ? 1 : 0);
  const std::size_t ranges = std::min<std::size_t>(threads, granules);
  if (ranges <= 1) {
    work(std::size_t{0}, count);
    return;
  }
  const std::size_t span = (granules + ranges - 1) / ranges * granule;
  std::vector<std::exception_ptr> failures(ranges);
  const auto run = [&work, &failures, count, span](std::size_t range) {
    try {
      const std::size_t first = range * span;
      work(first, std::min(count, first + span));
    } catch (...) {
      failures[range] = std::current_exception();
    }
  };
  {
    std::vector<std::jthread> helpers;
    helpers.reserve(ranges - 1);
    for (std::size_t range = 1; range < ranges && range * span < count;
         ++range) {
      try {
        helpers.emplace_back(run, range);
      } catch (const std::system_error &) {
        run(range);
      }
    }
    run(0);
  } // the helpers join here
  for (const std::exception_ptr &failure : failures) {
    if (failure) {
      std::rethrow_exception(failure);
    }
  }
}

} // namespace detail

// Blends top onto bottom into result, byte by byte, for any size. result may
// be top or bottom itself. The channel modes write only their channel of each
// packed RGB pixel and leave the other two bytes of result as they were.
// Arrays of threaded_from bytes or more are cut into options.threads pieces,
// each blended on its own thread. Throws std::invalid_argument when the
// three sizes differ, when result overlaps top or bottom without being that
// very array, or when the chunk is not a positive multiple of 3 that a
// kernel can take.
inline void blend(Mode mode, std::span<const std::uint8_t> top,
                  std::span<const std::uint8_t> bottom,
                  std::span<std::uint8_t> result, const Options &options = {}) {
  if (top.size() != bottom.size() || top.size() != result.size()) {
    throw std::invalid_argument("byteblend::blend: sizes differ: top has " +
                                std::to_string(top.size()) + " bytes, bottom " +
                                std::to_string(bottom.size()) + ", result " +
                                std::to_string(result.size()));
  }
  if (detail::overlaps_partly(result, top) ||
      detail::overlaps_partly(result, bottom)) {
    throw std::invalid_argument("byteblend::blend: result overlaps top or "
                                "bottom at another offset");
  }
  constexpr auto largest =
      static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
  const std::size_t chunk = options.chunk;
  if (chunk == 0 || chunk % 3 != 0 || chunk > largest) {
    throw std::invalid_argument("byteblend::blend: chunk of " +
                                std::to_string(chunk) +
                                " bytes is not a positive multiple of 3 "
                                "below 2^31");
  }
  KernelFunction *const function = kernel(mode);
  if (function == nullptr) {
    throw std::invalid_argument("byteblend::blend: not a mode");
  }
  const unsigned threads = top.size() < threaded_from ? 1 : options.threads;
  detail::split_across_threads(
      top.size(), detail::array_granule, threads,
      [&](std::size_t first, std::size_t last) {
        for (std::size_t offset = first; offset < last; offset += chunk) {
          const std::size_t length = std::min(chunk, last - offset);
          function(static_cast<std::int32_t>(length), top.data() + offset,
                   bottom.data() + offset, result.data() + offset);
        }
      });
}

// The same, on the calling thread, in kernel calls of at most chunk bytes.
inline void blend(Mode mode, std::span<const std::uint8_t> top,
                  std::span<const std::uint8_t> bottom,
                  std::span<std::uint8_t> result, std::size_t chunk) {
  blend(mode, top, bottom, result, Options{.threads = 1, .chunk = chunk});
}

} // namespace byteblend

#endif
