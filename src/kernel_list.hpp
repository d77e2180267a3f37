// SPDX-License-Identifier: MIT
// The thirteen kernels in the library's order of definition, for the code
// that has to name each of them once per instruction set.
#ifndef BYTEBLEND_KERNEL_LIST_HPP
#define BYTEBLEND_KERNEL_LIST_HPP

#include <cstdint>

#define BYTEBLEND_FOR_EACH_KERNEL(X)                                           \
  X(AdditionBlend)                                                             \
  X(SubtractionBlend)                                                          \
  X(MultiplicationBlend)                                                       \
  X(ScreenBlend)                                                               \
  X(RedChannelBlend)                                                           \
  X(GreenChannelBlend)                                                         \
  X(BlueChannelBlend)                                                          \
  X(OpacityBlend)                                                              \
  X(OverlayBlend)                                                              \
  X(LightenBlend)                                                              \
  X(DarkenBlend)                                                               \
  X(ColorDodgeBlend)                                                           \
  X(ColorBurnBlend)

namespace byteblend {

using KernelFunction = void(std::int32_t length, const std::uint8_t *top,
                            const std::uint8_t *bottom, std::uint8_t *result);

} // namespace byteblend

#endif
