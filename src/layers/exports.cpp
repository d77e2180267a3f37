// SPDX-License-Identifier: MIT
// The two exported functions of libbyteblend_layers.so.1. Each is a GNU
// indirect function, as the kernels of libbyteblend.so.1 are: the loader
// binds it once, at load time, to the build for the fastest instruction set
// that the CPU runs.
#include "byteblend_layers.h"

#include "../cpu_features.hpp"
#include "layer_targets.hpp"

#define BYTEBLEND_EXPORT __attribute__((visibility("default")))

// The build's numbers are the header's.
static_assert(BYTEBLEND_MODE_NORMAL == 13 && BYTEBLEND_OPERATOR_OVER == 1);

extern "C" {

// C linkage and hidden, as in the main library's exports.cpp.
#define BYTEBLEND_BUILD_FOR(target, kit, needed, name)                         \
  case byteblend::Target::target:                                              \
    return byteblend::target::name;
#define BYTEBLEND_RESOLVE(name, Type, exported, parameters)                    \
  __attribute__((visibility("hidden")))                                        \
  BYTEBLEND_UNINSTRUMENTED byteblend::Type *resolve_##name() {                 \
    switch (byteblend::best_target()) {                                        \
      BYTEBLEND_FOR_EACH_TARGET(BYTEBLEND_BUILD_FOR, name)                     \
    }                                                                          \
    __builtin_unreachable(); /* best_target() returns one of the list */       \
  }                                                                            \
  BYTEBLEND_EXPORT int exported parameters                                     \
      __attribute__((ifunc("resolve_" #name)));

// cppcheck reads the int of the exported declaration as the resolver's
// return value.
// cppcheck-suppress CastIntegerToAddressAtReturn
BYTEBLEND_RESOLVE(BlendWithOpacity, BlendWithOpacityFunction,
                  byteblend_blend_with_opacity,
                  (int mode, int32_t length, const uint8_t *top,
                   const uint8_t *bottom, uint8_t *result, uint8_t opacity))
// cppcheck-suppress CastIntegerToAddressAtReturn
BYTEBLEND_RESOLVE(Composite, CompositeFunction, byteblend_composite,
                  (int mode, int blend_operator, int32_t pixels,
                   const uint8_t *top, int top_channels, const uint8_t *bottom,
                   int bottom_channels, uint8_t *result, uint8_t opacity))

} // extern "C"
