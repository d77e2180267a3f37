// SPDX-License-Identifier: MIT
// The two layer functions of each instruction set, with the C functions'
// signatures, declared in a namespace per instruction set as targets.hpp
// declares the kernels.
#ifndef BYTEBLEND_LAYERS_LAYER_TARGETS_HPP
#define BYTEBLEND_LAYERS_LAYER_TARGETS_HPP

#include <cstdint>

#include "../targets.hpp"

namespace byteblend {

using BlendWithOpacityFunction = int(int mode, std::int32_t length,
                                     const std::uint8_t *top,
                                     const std::uint8_t *bottom,
                                     std::uint8_t *result,
                                     std::uint8_t opacity);
using CompositeFunction = int(int mode, int blend_operator, std::int32_t pixels,
                              const std::uint8_t *top, int top_channels,
                              const std::uint8_t *bottom, int bottom_channels,
                              std::uint8_t *result, std::uint8_t opacity);

} // namespace byteblend

#define BYTEBLEND_DECLARE_LAYERS(target, ...)                                  \
  namespace byteblend::target {                                                \
  BlendWithOpacityFunction BlendWithOpacity;                                   \
  CompositeFunction Composite;                                                 \
  }
BYTEBLEND_FOR_EACH_TARGET(BYTEBLEND_DECLARE_LAYERS)
#undef BYTEBLEND_DECLARE_LAYERS

#endif
