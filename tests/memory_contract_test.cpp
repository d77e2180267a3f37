// The memory contract on every route: a kernel reads and writes exactly the
// indices it visits, touches nothing at or beyond `length` and nothing at
// all for a length of zero or below, and gives the same output when
// `result` is `top` or `bottom`. Arrays sit flush against inaccessible pages,
// so that a read or write outside them faults.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "implementation_list.hpp"
#include "reference.hpp"

namespace {

using testing_support::Route;

constexpr std::uint8_t kMarker = 0x5A;

// One read-write page between two PROT_NONE pages.
class GuardedPage {
public:
  GuardedPage() {
    void *mapping = mmap(nullptr, 3 * size(), PROT_NONE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) {
      std::perror("mmap");
      std::abort();
    }
    mapping_ = static_cast<std::uint8_t *>(mapping);
    if (mprotect(begin(), size(), PROT_READ | PROT_WRITE) != 0) {
      std::perror("mprotect");
      std::abort();
    }
  }
  GuardedPage(const GuardedPage &) = delete;
  GuardedPage &operator=(const GuardedPage &) = delete;
  ~GuardedPage() { munmap(mapping_, 3 * size()); }

  static std::size_t size() {
    return static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  }
  [[nodiscard]] std::uint8_t *begin() const { return mapping_ + size(); }
  [[nodiscard]] std::uint8_t *end() const { return begin() + size(); }
  [[nodiscard]] std::uint8_t *inaccessible() const { return mapping_; }

private:
  std::uint8_t *mapping_ = nullptr;
};

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

std::vector<std::uint8_t> random_bytes(std::size_t count, unsigned seed) {
  std::mt19937 generator(seed);
  std::vector<std::uint8_t> bytes(count);
  for (std::uint8_t &byte : bytes) {
    byte = static_cast<std::uint8_t>(generator());
  }
  return bytes;
}

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
  const GuardedPage top_page;
  const GuardedPage bottom_page;
  const GuardedPage result_page;
  const std::size_t page = GuardedPage::size();
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
  const GuardedPage page;
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
