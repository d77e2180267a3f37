// SPDX-License-Identifier: MIT
// Arrays of pseudo-random bytes, the same for the same seed on every run.
#ifndef BYTEBLEND_TESTS_RANDOM_BYTES_HPP
#define BYTEBLEND_TESTS_RANDOM_BYTES_HPP

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace testing_support {

inline std::vector<std::uint8_t> random_bytes(std::size_t count,
                                              unsigned seed) {
  std::mt19937 engine(seed);
  std::vector<std::uint8_t> bytes(count);
  for (std::uint8_t &byte : bytes) {
    byte = static_cast<std::uint8_t>(engine());
  }
  return bytes;
}

} // namespace testing_support

#endif
