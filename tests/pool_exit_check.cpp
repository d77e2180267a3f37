// A program that returns from main while another thread blends on the
// worker pool, after blends that left its workers parked: the exit must not
// crash or hang on the workers, which outlive every static destructor.
#include <cstdint>
#include <thread>
#include <vector>

#include "byteblend.hpp"

int main() {
  const std::size_t size =
      byteblend::threaded_from(byteblend::Mode::color_dodge) * 4;
  static std::vector<std::uint8_t> top(size, 200), bottom(size, 100),
      result(size);
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
