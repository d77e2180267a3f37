// SPDX-License-Identifier: MIT
// A program that returns from main while another thread blends on the
// worker pool, after blends that left its workers parked: the exit must not
// crash or hang on the workers, which outlive every static destructor. The
// arrays are never freed, as a program that exits while blending must keep
// them.
#include <cstdint>
#include <exception>
#include <thread>
#include <vector>

#include "byteblend.hpp"

namespace {

int blend_and_return() {
  const std::size_t size =
      byteblend::threaded_from(byteblend::Mode::color_dodge) * 4;
  // Held by static pointers, so that leak checkers see them reachable.
  static const auto &top = *new std::vector<std::uint8_t>(size, 200);
  static const auto &bottom = *new std::vector<std::uint8_t>(size, 100);
  static auto &result = *new std::vector<std::uint8_t>(size);
  for (int i = 0; i < 3; ++i) {
    byteblend::blend(byteblend::Mode::color_dodge, top, bottom, result,
                     {.threads = 0});
  }
  std::thread([] {
    std::vector<std::uint8_t> own(top.size());
    while (true) {
      byteblend::blend(byteblend::Mode::color_dodge, top, bottom, own,
                       {.threads = 0});
    }
  }).detach();
  std::this_thread::yield();
  return result[0] == 255 ? 0 : 1;
}

} // namespace

int main() {
  try {
    return blend_and_return();
  } catch (const std::exception &) {
    return 1;
  }
}
