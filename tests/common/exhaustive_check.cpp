#include "exhaustive_check.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace testing_support {

std::int32_t count_mismatches_over_all_pairs(const reference::Kernel &kernel,
                                             const KernelCall &function,
                                             std::string_view label) {
  constexpr std::int32_t kPairs = 256 * 256;
  constexpr std::uint8_t kUntouched = 0xA5;
  const std::int32_t length = kernel.start + kPairs * kernel.stride;
  std::vector<std::uint8_t> top(length, kUntouched);
  std::vector<std::uint8_t> bottom(length, kUntouched);
  std::vector<std::uint8_t> result(length, kUntouched);
  for (std::int32_t k = 0; k < kPairs; ++k) {
    top[kernel.start + k * kernel.stride] = static_cast<std::uint8_t>(k >> 8);
    bottom[kernel.start + k * kernel.stride] = static_cast<std::uint8_t>(k);
  }

  function(length, top.data(), bottom.data(), result.data());

  std::int32_t mismatches = 0;
  for (std::int32_t i = 0; i < length; ++i) {
    const bool visited =
        i >= kernel.start && (i - kernel.start) % kernel.stride == 0;
    const std::int32_t expected =
        visited ? kernel.formula(top[i], bottom[i]) : kUntouched;
    if (result[i] != expected && ++mismatches <= 10) {
      ADD_FAILURE() << label << ": top " << int{top[i]} << ", bottom "
                    << int{bottom[i]} << " at index " << i << " gave "
                    << int{result[i]} << ", expected " << expected;
    }
  }
  return mismatches;
}

} // namespace testing_support
