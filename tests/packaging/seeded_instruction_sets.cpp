// SPDX-License-Identifier: MIT
// A shared object that breaks each rule of check_instruction_sets.cmake
// once, with the instruction written out so that no compiler flag is
// needed: the check must fail on it and name each of these functions. The
// clean functions around them must not be named.
namespace byteblend {

namespace sse2 {
void Clean() { asm volatile("pxor %xmm0, %xmm0"); }
void SeededVex() { asm volatile("vzeroupper"); }
} // namespace sse2

namespace scalar {
void SeededEvex() { asm volatile("vpxord %zmm0, %zmm0, %zmm0"); }
} // namespace scalar

namespace avx2 {
void Clean() { asm volatile("vpxor %ymm0, %ymm0, %ymm0"); }
void SeededMask() { asm volatile("kmovw %k1, %k2"); }
void SeededEvex() { asm volatile("vpxord %xmm16, %xmm16, %xmm16"); }
} // namespace avx2

namespace avx512 {
void Clean() { asm volatile("vpxord %zmm0, %zmm0, %zmm0"); }
} // namespace avx512

} // namespace byteblend

// Outside the builds' namespaces, as the load-time resolvers are.
extern "C" void seeded_outside_the_builds() { asm volatile("vzeroupper"); }
