// SPDX-License-Identifier: MIT
// What the running CPU and operating system support, read with CPUID and
// XGETBV. Header-only and free of global state, so that the loader's ifunc
// resolvers can call it before any relocation or constructor has run.
#ifndef BYTEBLEND_CPU_FEATURES_HPP
#define BYTEBLEND_CPU_FEATURES_HPP

#include <cpuid.h>

namespace byteblend {

enum class Target { scalar, sse2, avx2, avx512 };

inline unsigned long long read_xcr0() {
  unsigned eax = 0;
  unsigned edx = 0;
  __asm__("xgetbv" : "=a"(eax), "=d"(edx) : "c"(0));
  return (static_cast<unsigned long long>(edx) << 32) | eax;
}

// Whether this machine can run the kernels compiled for `target`.
inline bool cpu_supports(Target target) {
  if (target == Target::scalar || target == Target::sse2) {
    return true; // part of x86-64 itself
  }
  unsigned eax = 0;
  unsigned ebx = 0;
  unsigned ecx = 0;
  unsigned edx = 0;
  if (__get_cpuid_count(1, 0, &eax, &ebx, &ecx, &edx) == 0) {
    return false;
  }
  const bool fma = (ecx & bit_FMA) != 0;
  const bool osxsave = (ecx & bit_OSXSAVE) != 0;
  if (!fma || !osxsave) {
    return false;
  }
  const unsigned long long xcr0 = read_xcr0();
  constexpr unsigned long long kSseAvxState = 0x6;  // XMM, YMM
  constexpr unsigned long long kAvx512State = 0xe0; // opmask, ZMM
  if ((xcr0 & kSseAvxState) != kSseAvxState) {
    return false;
  }
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) {
    return false;
  }
  const bool avx2 = (ebx & bit_AVX2) != 0;
  if (target == Target::avx2) {
    return avx2;
  }
  const bool avx512 = (ebx & bit_AVX512F) != 0 && (ebx & bit_AVX512BW) != 0 &&
                      (ebx & bit_AVX512VL) != 0;
  return avx2 && avx512 && (xcr0 & kAvx512State) == kAvx512State;
}

// The fastest instruction set that this machine runs.
inline Target best_target() {
  if (cpu_supports(Target::avx512)) {
    return Target::avx512;
  }
  if (cpu_supports(Target::avx2)) {
    return Target::avx2;
  }
  return Target::sse2;
}

} // namespace byteblend

#endif
