// SPDX-License-Identifier: MIT
// Every kernel source is compiled once per instruction set. Everything that
// such a translation unit defines inline lives in a namespace named after its
// instruction set, so that the linker never merges, say, an AVX2 build of a
// helper into the SSE2 kernels (the multi-target ODR trap). The build passes
// BYTEBLEND_TARGET_NAMESPACE; code compiled only once uses `portable`.
#ifndef BYTEBLEND_TARGET_NAMESPACE_HPP
#define BYTEBLEND_TARGET_NAMESPACE_HPP

#ifndef BYTEBLEND_TARGET_NAMESPACE
#define BYTEBLEND_TARGET_NAMESPACE portable
#endif

#endif
