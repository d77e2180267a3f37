// SPDX-License-Identifier: MIT
// The fifteen exported functions. The clamp helpers are plain functions; each
// kernel is a GNU indirect function whose resolver the dynamic loader runs
// once, at load time, to bind the name to the fastest build of that kernel
// that the CPU runs. A call then costs a plain call through the PLT.
#include "byteblend.h"

#include "clamp.hpp"
#include "cpu_features.hpp"
#include "targets.hpp"

#define BYTEBLEND_EXPORT __attribute__((visibility("default")))

extern "C" {

BYTEBLEND_EXPORT int32_t Minimum(int32_t a, int32_t b) {
  return byteblend::portable::minimum(a, b);
}

BYTEBLEND_EXPORT int32_t Maximum(int32_t a, int32_t b) {
  return byteblend::portable::maximum(a, b);
}

// The resolvers have C linkage, so that the ifunc attribute names them
// unmangled with either compiler (clang mangles a static function even in an
// extern "C" block, and warns that it is unused), and hidden visibility, so
// that the shared object still exports only the fifteen names. Each returns
// the build of the target that best_target() chooses from the target list;
// only the first of them asks the CPU (cpu_features.hpp).
#define BYTEBLEND_BUILD_FOR(target, kit, needed, name)                         \
  case byteblend::Target::target:                                              \
    return byteblend::target::name;
#define BYTEBLEND_RESOLVE(name)                                                \
  __attribute__((visibility("hidden")))                                        \
  BYTEBLEND_UNINSTRUMENTED byteblend::KernelFunction *resolve_##name() {       \
    switch (byteblend::best_target()) {                                        \
      BYTEBLEND_FOR_EACH_TARGET(BYTEBLEND_BUILD_FOR, name)                     \
    }                                                                          \
    __builtin_unreachable(); /* best_target() returns one of the list */       \
  }                                                                            \
  BYTEBLEND_EXPORT void name(int32_t length, const uint8_t *top,               \
                             const uint8_t *bottom, uint8_t *result)           \
      __attribute__((ifunc("resolve_" #name)));

BYTEBLEND_FOR_EACH_KERNEL(BYTEBLEND_RESOLVE)

} // extern "C"
