// SPDX-License-Identifier: MIT
#include "layer_routes.hpp"

namespace byteblend {
namespace {

#define BYTEBLEND_LAYER_BUILD(target, ...)                                     \
  {Target::target, target::BlendWithOpacity, target::Composite},

const LayerBuild kBuilds[] = {BYTEBLEND_FOR_EACH_TARGET(BYTEBLEND_LAYER_BUILD)};

#undef BYTEBLEND_LAYER_BUILD

} // namespace

std::span<const LayerBuild> layer_builds() { return kBuilds; }

} // namespace byteblend
