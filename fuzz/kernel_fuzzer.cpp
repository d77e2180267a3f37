// SPDX-License-Identifier: MIT
// Differential fuzzing of every build of every kernel, and of the exported
// names, against the reference route. The input chooses the kernel, the
// route (a build that this CPU runs, or the exported name), the length (zero
// and negative included), how far each array's start is from its allocation's
// start, and whether result is one of the inputs. Each array is allocated
// exactly as large as the visited indices need, and the bytes in front of it
// are poisoned, so AddressSanitizer stops at the first byte read or written
// outside the caller's arrays.
//
// The routes are the builds of the kernel that this CPU runs, then the
// exported name, which the loader bound to one of them.
//
// The AVX-512 routes load and store tails with byte masks
// (_mm512_maskz_loadu_epi8, _mm512_mask_storeu_epi8). clang lowers these to
// masked loads and stores, and its AddressSanitizer checks each lane that
// the mask enables and no other: a masked-off lane past the end of an array
// is no access (the hardware does not touch it either), while one enabled
// lane too many is reported. fuzz/masked_access_check.cpp proves both on
// every run of the fuzz stage.
#include <sanitizer/asan_interface.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "byteblend.h"
#include "implementations.hpp"
#include "reference.hpp"

namespace {

// Input layout: kernel, route, length (2 bytes, signed), offsets of top,
// bottom and result, aliasing, then the bytes the arrays are filled from.
constexpr std::size_t kHeader = 8;

enum class Aliasing {
  none,
  result_is_top,
  result_is_bottom,
  top_is_bottom,
  all
};

// An array of exactly `size` bytes that starts `offset` bytes into its
// allocation; the bytes before it are poisoned.
class ExactArray {
public:
  ExactArray(std::size_t offset, std::size_t size)
      : allocation_(static_cast<std::uint8_t *>(std::malloc(offset + size))),
        offset_(offset) {
    if (allocation_ == nullptr) {
      std::abort();
    }
    ASAN_POISON_MEMORY_REGION(allocation_, offset_);
  }
  ExactArray(const ExactArray &) = delete;
  ExactArray &operator=(const ExactArray &) = delete;
  ~ExactArray() {
    ASAN_UNPOISON_MEMORY_REGION(allocation_, offset_);
    std::free(allocation_);
  }
  std::uint8_t *data() { return allocation_ + offset_; }

private:
  std::uint8_t *allocation_;
  std::size_t offset_;
};

// How many bytes the arrays need: one past the last visited index.
std::size_t bytes_visited(const reference::Kernel &kernel,
                          std::int32_t length) {
  if (length <= kernel.start) {
    return 0;
  }
  const std::int64_t last =
      kernel.start + (static_cast<std::int64_t>(length) - 1 - kernel.start) /
                         kernel.stride * kernel.stride;
  return static_cast<std::size_t>(last + 1);
}

void fill(std::uint8_t *array, std::size_t size, const std::uint8_t *bytes,
          std::size_t count, std::size_t phase) {
  for (std::size_t i = 0; i < size; ++i) {
    array[i] = count == 0 ? static_cast<std::uint8_t>(i * 37 + phase)
                          : bytes[(i * 3 + phase) % count];
  }
}

struct Route {
  std::string_view via;
  byteblend::KernelFunction *function;
};

byteblend::KernelFunction *exported(std::string_view name) {
#define BYTEBLEND_BY_NAME(kernel)                                              \
  if (name == #kernel) {                                                       \
    return kernel;                                                             \
  }
  BYTEBLEND_FOR_EACH_KERNEL(BYTEBLEND_BY_NAME)
#undef BYTEBLEND_BY_NAME
  std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  if (size < kHeader) {
    return 0;
  }
  const reference::Kernel &kernel =
      reference::kKernels[data[0] % reference::kKernels.size()];

  std::vector<Route> routes;
  for (const byteblend::Implementation &implementation :
       byteblend::implementations()) {
    if (implementation.kernel == kernel.name &&
        byteblend::cpu_supports(implementation.target)) {
      routes.push_back({byteblend::target_name(implementation.target),
                        implementation.function});
    }
  }
  routes.push_back({"exported", exported(kernel.name)});
  const Route &route = routes[data[1] % routes.size()];

  std::int16_t raw_length = 0;
  std::memcpy(&raw_length, data + 2, sizeof raw_length);
  const std::int32_t length = raw_length;
  const std::size_t top_offset = data[4] % 64;
  const std::size_t bottom_offset = data[5] % 64;
  const std::size_t result_offset = data[6] % 64;
  const auto aliasing = static_cast<Aliasing>(data[7] % 5);
  const std::uint8_t *const bytes = data + kHeader;
  const std::size_t count = size - kHeader;

  const std::size_t visited = bytes_visited(kernel, length);
  ExactArray top(top_offset, visited);
  ExactArray bottom(bottom_offset, visited);
  ExactArray result(result_offset, visited);
  fill(top.data(), visited, bytes, count, 0);
  fill(bottom.data(), visited, bytes, count, 1);
  fill(result.data(), visited, bytes, count, 2);

  std::uint8_t *top_pointer = top.data();
  std::uint8_t *bottom_pointer = bottom.data();
  std::uint8_t *result_pointer = result.data();
  switch (aliasing) {
  case Aliasing::none:
    break;
  case Aliasing::result_is_top:
    result_pointer = top_pointer;
    break;
  case Aliasing::result_is_bottom:
    result_pointer = bottom_pointer;
    break;
  case Aliasing::top_is_bottom:
    bottom_pointer = top_pointer;
    break;
  case Aliasing::all:
    bottom_pointer = top_pointer;
    result_pointer = top_pointer;
    break;
  }

  // What result must hold afterwards: the reference value at each visited
  // index, what was there before everywhere else.
  std::vector<std::uint8_t> expected(result_pointer, result_pointer + visited);
  for (std::size_t i = static_cast<std::size_t>(kernel.start); i < visited;
       i += static_cast<std::size_t>(kernel.stride)) {
    expected[i] = static_cast<std::uint8_t>(
        kernel.formula(top_pointer[i], bottom_pointer[i]));
  }

  route.function(length, top_pointer, bottom_pointer, result_pointer);

  for (std::size_t i = 0; i < visited; ++i) {
    if (result_pointer[i] != expected[i]) {
      std::fprintf(stderr,
                   "%.*s via %.*s, length %d: index %zu holds %d, "
                   "expected %d\n",
                   static_cast<int>(kernel.name.size()), kernel.name.data(),
                   static_cast<int>(route.via.size()), route.via.data(), length,
                   i, result_pointer[i], expected[i]);
      __builtin_trap();
    }
  }
  return 0;
}
