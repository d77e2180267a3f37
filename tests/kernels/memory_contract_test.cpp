// SPDX-License-Identifier: MIT
// The memory contract on every route: a kernel reads and writes exactly the
// indices it visits, touches nothing at or beyond `length` and nothing at
// all for a length of zero or below, and gives the same output when
// `result` is `top` or `bottom`. Arrays sit flush against inaccessible pages,
// so that a read or write outside them faults. Short arrays and arrays long
// enough for the streamed body (an ordinary head up to a cache line of
// `result`, streamed lines, an ordinary tail) are both covered.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "element_loop.hpp"
#include "guarded_pages.hpp"
#include "implementation_list.hpp"
#include "random_bytes.hpp"
#include "reference.hpp"

namespace {

using testing_support::GuardedPages;
using testing_support::Route;

constexpr std::uint8_t kMarker = 0x5A;

bool visits(const reference::Kernel &kernel, std::int64_t i) {
  return i >= kernel.start && (i - kernel.start) % kernel.stride == 0;
}

// The smallest array that holds every index visited below `length`.
std::int64_t visited_extent(const reference::Kernel &kernel,
                            std::int32_t length) {
  if (length <= kernel.start) {
    return 0;
  }
  const std::int64_t last =
      kernel.start +
      (std::int64_t{length} - 1 - kernel.start) / kernel.stride * kernel.stride;
  return last + 1;
}

using testing_support::random_bytes;

class MemoryContractTest : public testing::TestWithParam<Route> {};

enum class Flush { kAtEnd, kAtStart };

// Lengths 0 to 300, with the three arrays exactly as long as the visited
// indices need, each ending at (or starting at) an inaccessible page, or
// `slack` bytes short of it so that the pointers take every alignment.
// Every byte of the result page that is not visited keeps its marker.
TEST_P(MemoryContractTest, TouchesOnlyVisitedIndices) {
  const Route &route = GetParam();
  SKIP_IF_UNSUPPORTED(route);
  const reference::Kernel &kernel = reference::kernel_named(route.kernel);
  const GuardedPages top_page;
  const GuardedPages bottom_page;
  const GuardedPages result_page;
  const std::size_t page = GuardedPages::page_size();
  const std::vector<std::uint8_t> top_bytes = random_bytes(page, 1);
  const std::vector<std::uint8_t> bottom_bytes = random_bytes(page, 2);
  std::copy(top_bytes.begin(), top_bytes.end(), top_page.begin());
  std::copy(bottom_bytes.begin(), bottom_bytes.end(), bottom_page.begin());

  std::int32_t failures = 0;
  for (const Flush flush : {Flush::kAtEnd, Flush::kAtStart}) {
    for (const std::int64_t slack : {0, 1, 3, 6, 13}) {
      for (std::int32_t length = 0; length <= 300 && failures < 10; ++length) {
        const std::int64_t extent = visited_extent(kernel, length);
        const std::int64_t at =
            flush == Flush::kAtEnd
                ? static_cast<std::int64_t>(page) - extent - slack
                : slack;
        std::fill(result_page.begin(), result_page.end(), kMarker);

        route.function(length, top_page.begin() + at, bottom_page.begin() + at,
                       result_page.begin() + at);

        for (std::int64_t q = 0; q < static_cast<std::int64_t>(page); ++q) {
          const std::int64_t i = q - at;
          const bool visited = i >= 0 && i < extent && visits(kernel, i);
          const std::int32_t expected =
              visited ? kernel.formula(top_bytes[q], bottom_bytes[q]) : kMarker;
          if (result_page.begin()[q] != expected && ++failures <= 10) {
            ADD_FAILURE() << route.kernel << " via " << route.via << ", length "
                          << length << ", flush at "
                          << (flush == Flush::kAtEnd ? "end" : "start")
                          << ", slack " << slack << ": index " << i << " holds "
                          << int{result_page.begin()[q]} << ", expected "
                          << expected;
          }
        }
      }
    }
  }
  EXPECT_EQ(failures, 0);
}

// Lengths of zero and below, and for the channel kernels lengths no greater
// than the start, touch nothing: null pointers and pointers to an
// inaccessible page alike.
TEST_P(MemoryContractTest, NonPositiveLengthTouchesNothing) {
  const Route &route = GetParam();
  SKIP_IF_UNSUPPORTED(route);
  const reference::Kernel &kernel = reference::kernel_named(route.kernel);
  const GuardedPages page;
  std::vector<std::int32_t> lengths = {0, -1, -3, INT32_MIN, INT32_MIN + 1};
  for (std::int32_t length = 1; length <= kernel.start; ++length) {
    lengths.push_back(length);
  }
  for (const std::int32_t length : lengths) {
    route.function(length, nullptr, nullptr, nullptr);
    route.function(length, page.inaccessible(), page.inaccessible(),
                   page.inaccessible());
  }
  SUCCEED() << "no fault";
}

// `result` may be `top` or `bottom`: the output equals that of a separate
// result array that starts with the same bytes.
TEST_P(MemoryContractTest, ResultMayBeTopOrBottom) {
  const Route &route = GetParam();
  SKIP_IF_UNSUPPORTED(route);
  for (const std::int32_t length : {1, 5, 63, 64, 65, 300, 1001}) {
    const auto top = random_bytes(length, 3);
    const auto bottom = random_bytes(length, 4);
    for (const bool onto_top : {true, false}) {
      std::vector<std::uint8_t> separate = onto_top ? top : bottom;
      route.function(length, top.data(), bottom.data(), separate.data());
      std::vector<std::uint8_t> in_place_top = top;
      std::vector<std::uint8_t> in_place_bottom = bottom;
      std::uint8_t *result =
          onto_top ? in_place_top.data() : in_place_bottom.data();
      route.function(length, in_place_top.data(), in_place_bottom.data(),
                     result);
      EXPECT_TRUE(std::equal(separate.begin(), separate.end(), result))
          << route.kernel << " via " << route.via << ", length " << length
          << ", result is " << (onto_top ? "top" : "bottom");
    }
  }
}

// Each kernel's output for every (top, bottom) pair, to check long arrays
// quickly.
std::vector<std::uint8_t> table_of(const reference::Kernel &kernel) {
  std::vector<std::uint8_t> table(std::size_t{256} * 256);
  for (std::size_t t = 0; t < 256; ++t) {
    for (std::size_t b = 0; b < 256; ++b) {
      table[t * 256 + b] = static_cast<std::uint8_t>(kernel.formula(
          static_cast<std::int32_t>(t), static_cast<std::int32_t>(b)));
    }
  }
  return table;
}

// The shortest length that takes the streamed body.
constexpr std::int32_t kStreamed =
    static_cast<std::int32_t>(byteblend::portable::kStreamingFrom);

// Lengths past the streaming threshold, arrays flush against an
// inaccessible page at their start or at their end, placed so that `result`
// starts on a cache line or off it by odd amounts (heads of 0, 51 and more):
// every visited byte is blended, no other byte changes.
TEST_P(MemoryContractTest, LongArraysTouchOnlyVisitedIndices) {
  const Route &route = GetParam();
  SKIP_IF_UNSUPPORTED(route);
  const reference::Kernel &kernel = reference::kernel_named(route.kernel);
  const std::vector<std::uint8_t> table = table_of(kernel);
  const std::size_t pages =
      (std::size_t{kStreamed} + 256) / GuardedPages::page_size() + 1;
  const GuardedPages top_pages(pages);
  const GuardedPages bottom_pages(pages);
  const GuardedPages result_pages(pages);
  const std::size_t size = top_pages.size();
  const std::vector<std::uint8_t> top_bytes = random_bytes(size, 7);
  const std::vector<std::uint8_t> bottom_bytes = random_bytes(size, 8);
  std::copy(top_bytes.begin(), top_bytes.end(), top_pages.begin());
  std::copy(bottom_bytes.begin(), bottom_bytes.end(), bottom_pages.begin());

  std::vector<std::uint8_t> expected(size);
  for (const std::int32_t length : {kStreamed + 1, kStreamed + 127}) {
    const std::int64_t extent = visited_extent(kernel, length);
    const auto last_start = static_cast<std::int64_t>(size) - extent;
    for (const std::int64_t at :
         {std::int64_t{0}, std::int64_t{13}, last_start, last_start - 1}) {
      std::fill(result_pages.begin(), result_pages.end(), kMarker);
      std::fill(expected.begin(), expected.end(), kMarker);
      for (std::int64_t q = at + kernel.start; q < at + extent;
           q += kernel.stride) {
        const auto u = static_cast<std::size_t>(q);
        expected[u] = table[std::size_t{top_bytes[u]} * 256 + bottom_bytes[u]];
      }

      route.function(length, top_pages.begin() + at, bottom_pages.begin() + at,
                     result_pages.begin() + at);

      const auto [differs, wanted] = std::mismatch(
          result_pages.begin(), result_pages.end(), expected.begin());
      ASSERT_EQ(differs, result_pages.end())
          << route.kernel << " via " << route.via << ", length " << length
          << " at offset " << at << ": index "
          << (differs - result_pages.begin() - at) << " holds " << int{*differs}
          << ", expected " << int{*wanted};
    }
  }
}

// In place on long arrays, with `result` off a cache line by an odd amount
// and on one: the same bytes as into a separate array.
TEST_P(MemoryContractTest, LongResultMayBeTopOrBottom) {
  const Route &route = GetParam();
  SKIP_IF_UNSUPPORTED(route);
  const std::int32_t length = kStreamed + 77;
  const auto top = random_bytes(std::size_t{kStreamed} + 200, 9);
  const auto bottom = random_bytes(std::size_t{kStreamed} + 200, 10);
  for (const std::ptrdiff_t offset : {0, 37}) {
    for (const bool onto_top : {true, false}) {
      std::vector<std::uint8_t> separate = onto_top ? top : bottom;
      route.function(length, top.data() + offset, bottom.data() + offset,
                     separate.data() + offset);
      std::vector<std::uint8_t> in_place_top = top;
      std::vector<std::uint8_t> in_place_bottom = bottom;
      std::uint8_t *result =
          onto_top ? in_place_top.data() : in_place_bottom.data();
      route.function(length, in_place_top.data() + offset,
                     in_place_bottom.data() + offset, result + offset);
      EXPECT_TRUE(std::equal(separate.begin(), separate.end(), result))
          << route.kernel << " via " << route.via << ", offset " << offset
          << ", result is " << (onto_top ? "top" : "bottom");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AllRoutes, MemoryContractTest,
                         testing::ValuesIn(testing_support::all_routes()),
                         testing_support::route_name);

// The red, green and blue kernels of one instruction set (or the exported
// ones), called one after another in every order, blend every byte below
// `length` and nothing beyond it.
class ChannelKernelsTest : public testing::TestWithParam<std::string> {};

std::vector<std::string> all_vias() {
  std::vector<std::string> vias;
  for (const Route &route : testing_support::all_routes()) {
    if (std::find(vias.begin(), vias.end(), route.via) == vias.end()) {
      vias.push_back(route.via);
    }
  }
  return vias;
}

TEST_P(ChannelKernelsTest, ThreeCallsInAnyOrderBlendWholePixels) {
  std::array<Route, 3> channels{}; // red, green, blue
  for (const Route &route : testing_support::all_routes()) {
    if (route.via != GetParam()) {
      continue;
    }
    if (route.kernel == "RedChannelBlend") {
      channels[0] = route;
    } else if (route.kernel == "GreenChannelBlend") {
      channels[1] = route;
    } else if (route.kernel == "BlueChannelBlend") {
      channels[2] = route;
    }
  }
  for (const Route &route : channels) {
    ASSERT_NE(route.function, nullptr);
    SKIP_IF_UNSUPPORTED(route);
  }
  const auto top = random_bytes(400, 5);
  const auto bottom = random_bytes(400, 6);
  for (const std::int32_t length :
       {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 95, 96, 97, 192, 299, 300, 301, 302}) {
    std::array<int, 3> order = {0, 1, 2};
    do {
      std::vector<std::uint8_t> result(top.size(), kMarker);
      for (const int channel : order) {
        channels[channel].function(length, top.data(), bottom.data(),
                                   result.data());
      }
      for (std::int32_t i = 0; i < static_cast<std::int32_t>(result.size());
           ++i) {
        const std::int32_t expected =
            i < length ? reference::channel(top[i], bottom[i]) : kMarker;
        ASSERT_EQ(result[i], expected)
            << "via " << GetParam() << ", length " << length << ", order "
            << order[0] << order[1] << order[2] << ", index " << i;
      }
    } while (std::next_permutation(order.begin(), order.end()));
  }
}

// Named by route, "..._avx2", like the other tests, so that a run can tell
// which of them a CPU without AVX2 must skip.
INSTANTIATE_TEST_SUITE_P(EveryInstructionSet, ChannelKernelsTest,
                         testing::ValuesIn(all_vias()),
                         [](const testing::TestParamInfo<std::string> &info) {
                           return "via_" + info.param;
                         });

} // namespace
