#include <byteblend.hpp>

#include <cstdint>
#include <iostream>
#include <vector>

int main() {
  const std::vector<std::uint8_t> top = {0, 64, 128, 192, 255, 30};
  const std::vector<std::uint8_t> bottom = {0, 128, 128, 64, 255, 220};
  std::vector<std::uint8_t> result(top.size());
  const auto mode = byteblend::parse_mode("screen").value();
  byteblend::blend(mode, top, bottom, result);
  std::cout << byteblend::name(mode) << ':';
  for (const std::uint8_t value : result) {
    std::cout << ' ' << int{value};
  }
  std::cout << '\n';
}
