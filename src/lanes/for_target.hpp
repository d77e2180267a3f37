// SPDX-License-Identifier: MIT
// The lane kit of the instruction set that this translation unit is
// compiled for, as TargetLanes.
#ifndef BYTEBLEND_LANES_FOR_TARGET_HPP
#define BYTEBLEND_LANES_FOR_TARGET_HPP

#include "scalar.hpp"

#if defined(BYTEBLEND_LANES_AVX512)
#include "avx512.hpp"
namespace byteblend::BYTEBLEND_TARGET_NAMESPACE {
using TargetLanes = Avx512Lanes;
}
#elif defined(BYTEBLEND_LANES_AVX2)
#include "avx2.hpp"
namespace byteblend::BYTEBLEND_TARGET_NAMESPACE {
using TargetLanes = Avx2Lanes;
}
#elif defined(BYTEBLEND_LANES_SSE2)
#include "sse2.hpp"
namespace byteblend::BYTEBLEND_TARGET_NAMESPACE {
using TargetLanes = Sse2Lanes;
}
#else
namespace byteblend::BYTEBLEND_TARGET_NAMESPACE {
using TargetLanes = ScalarLanes;
}
#endif

#endif
