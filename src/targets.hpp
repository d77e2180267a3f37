// SPDX-License-Identifier: MIT
// The kernels of each instruction set of target_list.hpp, declared in a
// namespace per instruction set. All of them are hidden inside the shared
// object; the exported names choose among them.
#ifndef BYTEBLEND_TARGETS_HPP
#define BYTEBLEND_TARGETS_HPP

#include "kernel_list.hpp"
#include "target_list.hpp"

#define BYTEBLEND_DECLARE_KERNEL(name)                                         \
  void name(std::int32_t length, const std::uint8_t *top,                      \
            const std::uint8_t *bottom, std::uint8_t *result);
#define BYTEBLEND_DECLARE_TARGET(target, ...)                                  \
  namespace byteblend::target {                                                \
  BYTEBLEND_FOR_EACH_KERNEL(BYTEBLEND_DECLARE_KERNEL)                          \
  }
BYTEBLEND_FOR_EACH_TARGET(BYTEBLEND_DECLARE_TARGET)
#undef BYTEBLEND_DECLARE_TARGET
#undef BYTEBLEND_DECLARE_KERNEL

#endif
