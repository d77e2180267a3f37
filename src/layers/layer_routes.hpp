// SPDX-License-Identifier: MIT
// Every build of the layer functions, per instruction set, for the tests
// and benchmarks. Not part of the shared object.
#ifndef BYTEBLEND_LAYERS_LAYER_ROUTES_HPP
#define BYTEBLEND_LAYERS_LAYER_ROUTES_HPP

#include <span>

#include "../cpu_features.hpp"
#include "layer_targets.hpp"

namespace byteblend {

struct LayerBuild {
  Target target;
  BlendWithOpacityFunction *blend_with_opacity;
  CompositeFunction *composite;
};

// From the plainest instruction set to the widest.
std::span<const LayerBuild> layer_builds();

} // namespace byteblend

#endif
