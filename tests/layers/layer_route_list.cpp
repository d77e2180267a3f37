// SPDX-License-Identifier: MIT
#include "layer_route_list.hpp"

#include "byteblend_layers.h"
#include "implementations.hpp"

namespace layers_testing {

std::vector<LayerRoute> all_layer_routes() {
  std::vector<LayerRoute> routes;
  for (const byteblend::LayerBuild &build : byteblend::layer_builds()) {
    routes.push_back({std::string(byteblend::target_name(build.target)),
                      build.blend_with_opacity, build.composite,
                      byteblend::cpu_supports(build.target)});
  }
  routes.push_back(
      {"exported", byteblend_blend_with_opacity, byteblend_composite, true});
  return routes;
}

void PrintTo(const LayerRoute &route, std::ostream *out) {
  *out << "layers via " << route.via;
}

} // namespace layers_testing
