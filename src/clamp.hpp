// SPDX-License-Identifier: MIT
// The two clamp helpers, as inline definitions that the exported Minimum and
// Maximum and every kernel share. They work on plain integers and, through
// GCC's vector extensions, on whole vectors of lanes alike.
#ifndef BYTEBLEND_CLAMP_HPP
#define BYTEBLEND_CLAMP_HPP

#include "target_namespace.hpp"

namespace byteblend::BYTEBLEND_TARGET_NAMESPACE {

// The smaller of a and b under signed comparison.
template <class V> constexpr V minimum(V a, V b) { return b < a ? b : a; }

// The larger of a and b under signed comparison.
template <class V> constexpr V maximum(V a, V b) { return b > a ? b : a; }

} // namespace byteblend::BYTEBLEND_TARGET_NAMESPACE

#endif
