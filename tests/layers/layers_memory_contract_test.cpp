// SPDX-License-Identifier: MIT
// The memory contract of the layer functions on every route, as the plain
// kernels keep it: arrays flush against inaccessible pages at either end,
// exactly the visited bytes (or the given pixels) written, lengths past the
// streaming threshold, `result` as `bottom` or `top`, and many threads in
// the functions at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include "element_loop.hpp"
#include "guarded_pages.hpp"
#include "layer_checks.hpp"
#include "layer_route_list.hpp"
#include "layers_reference.hpp"
#include "random_bytes.hpp"

namespace {

using layers_testing::LayerRoute;
using testing_support::GuardedPages;

constexpr std::uint8_t kMarker = 0x5A;

using testing_support::random_bytes;

// What the byte-by-byte form leaves in `result` (which starts as `before`).
std::vector<std::uint8_t> expected_flat(int mode, std::int64_t length,
                                        const std::uint8_t *top,
                                        const std::uint8_t *bottom,
                                        std::vector<std::uint8_t> before,
                                        std::uint8_t opacity) {
  const auto table = layers_reference::mode_table(mode);
  const int channel = layers_reference::channel_of_mode(mode);
  for (std::int64_t i = channel < 0 ? 0 : channel; i < length;
       i += channel < 0 ? 1 : 3) {
    before[i] = layers_reference::mixed(table[top[i] * 256 + bottom[i]],
                                        bottom[i], opacity);
  }
  return before;
}

class LayersMemoryTest : public testing::TestWithParam<LayerRoute> {};

// Lengths 0 to 200, arrays ending at an inaccessible page or starting at
// one, at two alignments: only visited bytes change.
TEST_P(LayersMemoryTest, FlatTouchesOnlyVisitedBytes) {
  const LayerRoute &route = GetParam();
  SKIP_IF_ROUTE_UNSUPPORTED(route);
  const GuardedPages top_page(1);
  const GuardedPages bottom_page(1);
  const GuardedPages result_page(1);
  const auto page = static_cast<std::int64_t>(GuardedPages::page_size());
  const auto top = random_bytes(page, 1);
  const auto bottom = random_bytes(page, 2);
  std::copy(top.begin(), top.end(), top_page.begin());
  std::copy(bottom.begin(), bottom.end(), bottom_page.begin());
  const std::vector<std::uint8_t> markers(page, kMarker);
  for (int mode = 0; mode < layers_reference::kModes; ++mode) {
    for (const std::uint8_t opacity : {std::uint8_t{100}, std::uint8_t{255}}) {
      for (const bool at_end : {true, false}) {
        for (const std::int64_t slack : {0, 5}) {
          for (std::int32_t length = 0; length <= 200; ++length) {
            const std::int64_t at = at_end ? page - length - slack : slack;
            std::fill_n(result_page.begin(), page, kMarker);
            route.blend_with_opacity(mode, length, top_page.begin() + at,
                                     bottom_page.begin() + at,
                                     result_page.begin() + at, opacity);
            std::vector<std::uint8_t> expected(markers);
            const auto visited = expected_flat(
                mode, length, top.data() + at, bottom.data() + at,
                std::vector<std::uint8_t>(length, kMarker), opacity);
            std::copy(visited.begin(), visited.end(), expected.begin() + at);
            ASSERT_TRUE(std::equal(expected.begin(), expected.end(),
                                   result_page.begin()))
                << "via " << route.via << ", mode " << mode << ", opacity "
                << int{opacity} << ", length " << length << ", at " << at;
          }
        }
      }
    }
  }
}

// 0 to 70 pixels of every layout and operator, flush against a page at
// either end: exactly the pixels' bytes change.
TEST_P(LayersMemoryTest, CompositeTouchesOnlyItsPixels) {
  const LayerRoute &route = GetParam();
  SKIP_IF_ROUTE_UNSUPPORTED(route);
  const GuardedPages top_page(1);
  const GuardedPages bottom_page(1);
  const GuardedPages result_page(1);
  const auto page = static_cast<std::int64_t>(GuardedPages::page_size());
  const auto top = random_bytes(page, 3);
  const auto bottom = random_bytes(page, 4);
  std::copy(top.begin(), top.end(), top_page.begin());
  std::copy(bottom.begin(), bottom.end(), bottom_page.begin());
  for (const int mode : {0, 4, 6, 11, 13}) {
    for (const int op : {0, 1}) {
      for (const layers_testing::Layout layout : layers_testing::kLayouts) {
        const int tc = layout.top_channels;
        const int bc = layout.bottom_channels;
        for (const bool at_end : {true, false}) {
          for (std::int32_t pixels = 0; pixels <= 70; ++pixels) {
            const std::int64_t top_at =
                at_end ? page - std::int64_t{pixels} * tc : 0;
            const std::int64_t at =
                at_end ? page - std::int64_t{pixels} * bc : 0;
            std::fill_n(result_page.begin(), page, kMarker);
            ASSERT_EQ(route.composite(mode, op, pixels,
                                      top_page.begin() + top_at, tc,
                                      bottom_page.begin() + at, bc,
                                      result_page.begin() + at, 200),
                      0);
            std::vector<std::uint8_t> expected(page, kMarker);
            const auto written = layers_reference::composited_pixels(
                mode, op, pixels, top.data() + top_at, tc, bottom.data() + at,
                bc, 200);
            std::copy(written.begin(), written.end(), expected.begin() + at);
            ASSERT_TRUE(std::equal(expected.begin(), expected.end(),
                                   result_page.begin()))
                << "via " << route.via << ", mode " << mode << ", operator "
                << op << ", " << tc << " onto " << bc << ", " << pixels
                << " pixels, at " << (at_end ? "end" : "start");
          }
        }
      }
    }
  }
}

// The shortest length that takes the streamed body.
constexpr std::int32_t kStreamed =
    static_cast<std::int32_t>(byteblend::portable::kStreamingFrom);

// Past the streaming threshold, flush against a page at the end or off a
// cache line at the start: every visited byte blended, nothing else.
TEST_P(LayersMemoryTest, LongFlatArrays) {
  const LayerRoute &route = GetParam();
  SKIP_IF_ROUTE_UNSUPPORTED(route);
  const std::size_t pages =
      (std::size_t{kStreamed} + 256) / GuardedPages::page_size() + 1;
  const GuardedPages top_pages(pages);
  const GuardedPages bottom_pages(pages);
  const GuardedPages result_pages(pages);
  const auto size = static_cast<std::int64_t>(top_pages.size());
  const auto top = random_bytes(size, 5);
  const auto bottom = random_bytes(size, 6);
  std::copy(top.begin(), top.end(), top_pages.begin());
  std::copy(bottom.begin(), bottom.end(), bottom_pages.begin());
  for (const int mode : {0, 5, 13}) {
    for (const std::int32_t length : {kStreamed + 1, kStreamed + 127}) {
      for (const std::int64_t at : {std::int64_t{13}, size - length}) {
        std::fill_n(result_pages.begin(), size, kMarker);
        route.blend_with_opacity(mode, length, top_pages.begin() + at,
                                 bottom_pages.begin() + at,
                                 result_pages.begin() + at, 77);
        std::vector<std::uint8_t> expected(size, kMarker);
        const auto visited =
            expected_flat(mode, length, top.data() + at, bottom.data() + at,
                          std::vector<std::uint8_t>(length, kMarker), 77);
        std::copy(visited.begin(), visited.end(), expected.begin() + at);
        const auto [differs, wanted] =
            std::mismatch(result_pages.begin(), result_pages.begin() + size,
                          expected.begin());
        ASSERT_EQ(differs, result_pages.begin() + size)
            << "via " << route.via << ", mode " << mode << ", length " << length
            << " at " << at << ": index "
            << (differs - result_pages.begin() - at) << " holds "
            << int{*differs} << ", expected " << int{*wanted};
      }
    }
  }
}

// RGBA results past the streaming threshold, flush against a page at the
// end or starting at each offset from a cache line (on a pixel boundary and
// off one): every pixel composited, nothing else written.
TEST_P(LayersMemoryTest, LongComposites) {
  const LayerRoute &route = GetParam();
  SKIP_IF_ROUTE_UNSUPPORTED(route);
  const std::size_t pages =
      (std::size_t{kStreamed} + 256) / GuardedPages::page_size() + 1;
  const GuardedPages top_pages(pages);
  const GuardedPages bottom_pages(pages);
  const GuardedPages result_pages(pages);
  const auto size = static_cast<std::int64_t>(top_pages.size());
  const auto top = random_bytes(size, 7);
  const auto bottom = random_bytes(size, 8);
  std::copy(top.begin(), top.end(), top_pages.begin());
  std::copy(bottom.begin(), bottom.end(), bottom_pages.begin());
  const std::int32_t pixels = kStreamed / 4 + 21;
  for (const int op : {0, 1}) {
    for (const std::int64_t at :
         {std::int64_t{0}, std::int64_t{4}, std::int64_t{6}, std::int64_t{60},
          size - 4 * std::int64_t{pixels}}) {
      std::fill_n(result_pages.begin(), size, kMarker);
      route.composite(2, op, pixels, top_pages.begin() + at, 4,
                      bottom_pages.begin() + at, 4, result_pages.begin() + at,
                      200);
      std::vector<std::uint8_t> expected(size, kMarker);
      const auto written = layers_reference::composited_pixels(
          2, op, pixels, top.data() + at, 4, bottom.data() + at, 4, 200);
      std::copy(written.begin(), written.end(), expected.begin() + at);
      const auto [differs, wanted] = std::mismatch(
          result_pages.begin(), result_pages.begin() + size, expected.begin());
      ASSERT_EQ(differs, result_pages.begin() + size)
          << "via " << route.via << ", operator " << op << " at " << at
          << ": index " << (differs - result_pages.begin() - at) << " holds "
          << int{*differs} << ", expected " << int{*wanted};
    }
  }
}

// `result` as `bottom` (and as `top` where the layouts match) gives the
// bytes of a separate result array.
TEST_P(LayersMemoryTest, ResultMayBeBottomOrTop) {
  const LayerRoute &route = GetParam();
  SKIP_IF_ROUTE_UNSUPPORTED(route);
  for (const std::int32_t pixels : {1, 5, 16, 17, 63, 300, 1001}) {
    for (const int mode : {2, 4, 12, 13}) {
      for (const layers_testing::Layout layout : layers_testing::kLayouts) {
        const int tc = layout.top_channels;
        const int bc = layout.bottom_channels;
        const auto top = random_bytes(std::size_t(pixels) * tc, 7);
        const auto bottom = random_bytes(std::size_t(pixels) * bc, 8);
        for (const int op : {0, 1}) {
          std::vector<std::uint8_t> separate(bottom.size(), kMarker);
          route.composite(mode, op, pixels, top.data(), tc, bottom.data(), bc,
                          separate.data(), 180);
          std::vector<std::uint8_t> onto_bottom = bottom;
          route.composite(mode, op, pixels, top.data(), tc, onto_bottom.data(),
                          bc, onto_bottom.data(), 180);
          EXPECT_EQ(onto_bottom, separate)
              << "via " << route.via << ", onto bottom, " << pixels;
          if (tc == bc) {
            std::vector<std::uint8_t> onto_top = top;
            route.composite(mode, op, pixels, onto_top.data(), tc,
                            bottom.data(), bc, onto_top.data(), 180);
            EXPECT_EQ(onto_top, separate)
                << "via " << route.via << ", onto top, " << pixels;
          }
        }
        const std::int32_t length = pixels * 3;
        const auto flat_top = random_bytes(length, 9);
        const auto flat_bottom = random_bytes(length, 10);
        std::vector<std::uint8_t> separate = flat_bottom;
        route.blend_with_opacity(mode, length, flat_top.data(),
                                 flat_bottom.data(), separate.data(), 33);
        std::vector<std::uint8_t> in_place = flat_bottom;
        route.blend_with_opacity(mode, length, flat_top.data(), in_place.data(),
                                 in_place.data(), 33);
        EXPECT_EQ(in_place, separate) << "via " << route.via << ", flat";
      }
    }
  }
}

// Eight threads at once, each on its own arrays and opacity, and each
// repeating its call: every thread's bytes are those of a lone call.
TEST_P(LayersMemoryTest, ThreadsAtOnce) {
  const LayerRoute &route = GetParam();
  SKIP_IF_ROUTE_UNSUPPORTED(route);
  constexpr int kThreads = 8;
  constexpr std::int32_t kPixels = 20000;
  std::vector<std::vector<std::uint8_t>> tops;
  std::vector<std::vector<std::uint8_t>> bottoms;
  std::vector<std::vector<std::uint8_t>> alone;
  for (int k = 0; k < kThreads; ++k) {
    tops.push_back(random_bytes(std::size_t{kPixels} * 4, 20 + k));
    bottoms.push_back(random_bytes(std::size_t{kPixels} * 4, 40 + k));
    alone.emplace_back(std::size_t{kPixels} * 4);
    route.composite(k % 14, k % 2, kPixels, tops[k].data(), 4,
                    bottoms[k].data(), 4, alone[k].data(),
                    static_cast<std::uint8_t>(30 * k));
  }
  std::vector<std::vector<std::uint8_t>> results(
      kThreads, std::vector<std::uint8_t>(std::size_t{kPixels} * 4));
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int k = 0; k < kThreads; ++k) {
    threads.emplace_back([&, k] {
      for (int repeat = 0; repeat < 20; ++repeat) {
        route.composite(k % 14, k % 2, kPixels, tops[k].data(), 4,
                        bottoms[k].data(), 4, results[k].data(),
                        static_cast<std::uint8_t>(30 * k));
      }
    });
  }
  for (std::thread &thread : threads) {
    thread.join();
  }
  for (int k = 0; k < kThreads; ++k) {
    EXPECT_EQ(results[k], alone[k]) << "via " << route.via << ", thread " << k;
  }
}

INSTANTIATE_TEST_SUITE_P(EveryRoute, LayersMemoryTest,
                         testing::ValuesIn(layers_testing::all_layer_routes()),
                         [](const testing::TestParamInfo<LayerRoute> &info) {
                           return info.param.via;
                         });

} // namespace
