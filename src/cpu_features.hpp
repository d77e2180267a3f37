// SPDX-License-Identifier: MIT
// What the running CPU and operating system support, read with CPUID and
// XGETBV, and which build of the kernels that calls for.
//
// CPUID traps to the hypervisor on a virtual machine, several microseconds
// a time, and each of the thirteen load-time resolvers needs the answer: the
// first one reads the features and keeps them, the others read the copy (as
// glibc keeps its cpu_features). The loader may run a resolver before this
// object's relocations and constructors, so everything here is header-only,
// and the copy is a zero-initialised hidden variable that the code reaches
// PC-relative, without a relocation.
//
// The loader may run the resolvers before a sanitizer's run-time library
// has started (as it relocates a program whose GOT takes a kernel's
// address), when its shadow memory is not yet mapped: the code that they
// run is never instrumented.
#ifndef BYTEBLEND_CPU_FEATURES_HPP
#define BYTEBLEND_CPU_FEATURES_HPP

#include <cpuid.h>

#include "target_list.hpp"

#define BYTEBLEND_UNINSTRUMENTED                                               \
  __attribute__((no_sanitize("address", "thread", "undefined")))

namespace byteblend {

// One bit per feature that some entry of target_list.hpp needs.
namespace feature {
enum : unsigned {
  none = 0,
  avx2 = 1U << 0,
  fma = 1U << 1,
  avx512f = 1U << 2,
  avx512bw = 1U << 3,
  avx512vl = 1U << 4,
  // The operating system saves these registers on a context switch
  // (XCR0): without that, the instructions that use them fault.
  ymm_state = 1U << 5, // XMM and YMM
  zmm_state = 1U << 6, // opmask and ZMM
  // Set in every value read, so that zero means "not read yet".
  read = 1U << 31,
};
} // namespace feature

#define BYTEBLEND_ENUMERATOR(name, ...) name,
enum class Target { BYTEBLEND_FOR_EACH_TARGET(BYTEBLEND_ENUMERATOR) };
#undef BYTEBLEND_ENUMERATOR

// The features that the kernels compiled for `target` use.
BYTEBLEND_UNINSTRUMENTED constexpr unsigned features_needed(Target target) {
#define BYTEBLEND_NEEDS(name, kit, needed, ...)                                \
  if (target == Target::name) {                                                \
    return needed;                                                             \
  }
  BYTEBLEND_FOR_EACH_TARGET(BYTEBLEND_NEEDS)
#undef BYTEBLEND_NEEDS
  return feature::none;
}

// The widest target whose needs `features` meets: the last such in the
// list, which runs from the plainest to the widest.
BYTEBLEND_UNINSTRUMENTED constexpr Target best_target(unsigned features) {
  Target best = Target{};
#define BYTEBLEND_IF_MET(name, kit, needed, ...)                               \
  if ((features & (needed)) == (needed)) {                                     \
    best = Target::name;                                                       \
  }
  BYTEBLEND_FOR_EACH_TARGET(BYTEBLEND_IF_MET)
#undef BYTEBLEND_IF_MET
  return best;
}

BYTEBLEND_UNINSTRUMENTED inline unsigned long long read_xcr0() {
  unsigned eax = 0;
  unsigned edx = 0;
  __asm__("xgetbv" : "=a"(eax), "=d"(edx) : "c"(0));
  return (static_cast<unsigned long long>(edx) << 32) | eax;
}

// Asks the CPU; three CPUIDs and an XGETBV.
BYTEBLEND_UNINSTRUMENTED inline unsigned read_cpu_features() {
  unsigned features = feature::read;
  unsigned eax = 0;
  unsigned ebx = 0;
  unsigned ecx = 0;
  unsigned edx = 0;
  // The macros, not cpuid.h's functions, which a sanitizer instruments.
  __cpuid(0, eax, ebx, ecx, edx);
  const unsigned highest_leaf = eax;
  if (highest_leaf < 1) {
    return features;
  }
  __cpuid_count(1, 0, eax, ebx, ecx, edx);
  if ((ecx & bit_FMA) != 0) {
    features |= feature::fma;
  }
  if ((ecx & bit_OSXSAVE) != 0) {
    const unsigned long long xcr0 = read_xcr0();
    constexpr unsigned long long kSseAvxState = 0x6;  // XMM, YMM
    constexpr unsigned long long kAvx512State = 0xe0; // opmask, ZMM
    if ((xcr0 & kSseAvxState) == kSseAvxState) {
      features |= feature::ymm_state;
    }
    if ((xcr0 & kAvx512State) == kAvx512State) {
      features |= feature::zmm_state;
    }
  }
  if (highest_leaf < 7) {
    return features;
  }
  __cpuid_count(7, 0, eax, ebx, ecx, edx);
  const unsigned bits[][2] = {{bit_AVX2, feature::avx2},
                              {bit_AVX512F, feature::avx512f},
                              {bit_AVX512BW, feature::avx512bw},
                              {bit_AVX512VL, feature::avx512vl}};
  for (const auto &[cpuid_bit, bit] : bits) {
    if ((ebx & cpuid_bit) != 0) {
      features |= bit;
    }
  }
  return features;
}

// The features as first read in this process (in the shared object, by
// the first resolver); zero until then. Every thread that finds it zero
// stores the same value, so relaxed atomics suffice: a race costs no more
// than a second read.
__attribute__((visibility("hidden"))) inline unsigned cpu_features_read = 0;

BYTEBLEND_UNINSTRUMENTED inline unsigned cpu_features() {
  unsigned features = __atomic_load_n(&cpu_features_read, __ATOMIC_RELAXED);
  if (features == 0) {
    features = read_cpu_features();
    __atomic_store_n(&cpu_features_read, features, __ATOMIC_RELAXED);
  }
  return features;
}

// Whether this machine can run the kernels compiled for `target`.
BYTEBLEND_UNINSTRUMENTED inline bool cpu_supports(Target target) {
  const unsigned needed = features_needed(target);
  return (cpu_features() & needed) == needed;
}

// The fastest instruction set that this machine runs.
BYTEBLEND_UNINSTRUMENTED inline Target best_target() {
  return best_target(cpu_features());
}

} // namespace byteblend

#endif
