// SPDX-License-Identifier: MIT
// The lane kit of the instruction set that this translation unit is
// compiled for, as TargetLanes. The build names the instruction set once,
// as BYTEBLEND_TARGET_NAMESPACE; its kit is the file of that name here and
// the type that target_list.hpp gives for it.
#ifndef BYTEBLEND_LANES_FOR_TARGET_HPP
#define BYTEBLEND_LANES_FOR_TARGET_HPP

#ifndef BYTEBLEND_TARGET_NAMESPACE
#error "compiled once per instruction set, with BYTEBLEND_TARGET_NAMESPACE"
#endif

#include "../target_list.hpp"
#include "scalar.hpp" // every kit's tails, and the plain target's own kit

#define BYTEBLEND_LANES_STRING(tokens) #tokens
#define BYTEBLEND_LANES_FILE(target) BYTEBLEND_LANES_STRING(target.hpp)
#include BYTEBLEND_LANES_FILE(BYTEBLEND_TARGET_NAMESPACE)
#undef BYTEBLEND_LANES_FILE
#undef BYTEBLEND_LANES_STRING

namespace byteblend::BYTEBLEND_TARGET_NAMESPACE {

// Every target's kit by the target's name; only this one's is defined
// here, the others are declared and never used.
#define BYTEBLEND_DECLARE_KIT(target, kit, ...) struct kit;
BYTEBLEND_FOR_EACH_TARGET(BYTEBLEND_DECLARE_KIT)
#undef BYTEBLEND_DECLARE_KIT
namespace kit_of {
#define BYTEBLEND_NAME_KIT(target, kit, ...) using target = kit;
BYTEBLEND_FOR_EACH_TARGET(BYTEBLEND_NAME_KIT)
#undef BYTEBLEND_NAME_KIT
} // namespace kit_of

using TargetLanes = kit_of::BYTEBLEND_TARGET_NAMESPACE;

} // namespace byteblend::BYTEBLEND_TARGET_NAMESPACE

#endif
