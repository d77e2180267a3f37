// SPDX-License-Identifier: MIT
// The top of the length range on 2 GiB arrays: 2147483647 for the addition,
// red and blue kernels (an index stepping by 3 from the red or blue start
// would pass INT32_MAX), 2147483646 for the green kernel. The call has to
// return, the last visited index has to hold its value, and nothing at or
// beyond `length` is touched: in `top` and `bottom` index `length` is the
// first byte of an inaccessible page, in `result` it holds a marker.
// Mappings are anonymous and lazily backed; one route's arrays at a time.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "implementation_list.hpp"
#include "reference.hpp"

namespace {

using testing_support::Route;

constexpr std::uint8_t kMarker = 0x5A;

std::int32_t largest_length(const std::string &kernel) {
  return kernel == "GreenChannelBlend" ? 2147483646 : 2147483647;
}

// `length` bytes ending at a page boundary, followed by one more page, that
// is inaccessible unless `readable_after`.
class HugeArray {
public:
  HugeArray(std::int64_t length, bool readable_after) {
    const auto page = static_cast<std::int64_t>(sysconf(_SC_PAGESIZE));
    const std::int64_t pages = (length + page - 1) / page;
    size_ = static_cast<std::size_t>((pages + 1) * page);
    void *mapping = mmap(nullptr, size_, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (mapping == MAP_FAILED) {
      return;
    }
    mapping_ = static_cast<std::uint8_t *>(mapping);
    madvise(mapping_, size_, MADV_HUGEPAGE); // fewer faults, if allowed
    data_ = mapping_ + (pages * page - length);
    if (!readable_after) {
      mprotect(mapping_ + pages * page, static_cast<std::size_t>(page),
               PROT_NONE);
    }
  }
  HugeArray(const HugeArray &) = delete;
  HugeArray &operator=(const HugeArray &) = delete;
  ~HugeArray() {
    if (mapping_ != nullptr) {
      munmap(mapping_, size_);
    }
  }
  [[nodiscard]] std::uint8_t *data() const { return data_; }

private:
  std::uint8_t *mapping_ = nullptr;
  std::uint8_t *data_ = nullptr;
  std::size_t size_ = 0;
};

std::vector<Route> largest_length_routes() {
  std::vector<Route> routes;
  for (const Route &route : testing_support::all_routes()) {
    if (route.kernel == "AdditionBlend" || route.kernel == "RedChannelBlend" ||
        route.kernel == "GreenChannelBlend" ||
        route.kernel == "BlueChannelBlend") {
      routes.push_back(route);
    }
  }
  return routes;
}

class LargestLengthTest : public testing::TestWithParam<Route> {};

TEST_P(LargestLengthTest, ReturnsAndStopsAtLength) {
  const Route &route = GetParam();
  SKIP_IF_UNSUPPORTED(route);
  const reference::Kernel &kernel = reference::kernel_named(route.kernel);
  const std::int32_t length = largest_length(route.kernel);
  const std::int64_t last =
      kernel.start +
      (std::int64_t{length} - 1 - kernel.start) / kernel.stride * kernel.stride;
  const HugeArray top(length, false);
  const HugeArray bottom(length, false);
  const HugeArray result(length, true);
  ASSERT_NE(top.data(), nullptr);
  ASSERT_NE(bottom.data(), nullptr);
  ASSERT_NE(result.data(), nullptr);
  // The last pixel, and the bytes around it, hold chosen values.
  for (std::int64_t i = last - 5; i < length; ++i) {
    top.data()[i] = 17;
    bottom.data()[i] = 63;
  }
  for (std::int64_t i = last - 5; i <= length; ++i) {
    result.data()[i] = kMarker;
  }

  route.function(length, top.data(), bottom.data(), result.data());

  for (std::int64_t i = last - 5; i <= length; ++i) {
    const bool visited = i < length && (i - kernel.start) % kernel.stride == 0;
    const std::int32_t expected = visited ? kernel.formula(17, 63) : kMarker;
    EXPECT_EQ(result.data()[i], expected)
        << route.kernel << " via " << route.via << ", length " << length
        << ", index " << i << (i == last ? " (the last visited)" : "");
  }
}

INSTANTIATE_TEST_SUITE_P(AllRoutes, LargestLengthTest,
                         testing::ValuesIn(largest_length_routes()),
                         testing_support::route_name);

} // namespace
