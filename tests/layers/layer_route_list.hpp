// SPDX-License-Identifier: MIT
// Every way the tests reach the layer functions: the build of each
// instruction set and the exported names of libbyteblend_layers.so.1.
#ifndef BYTEBLEND_TESTS_LAYER_ROUTE_LIST_HPP
#define BYTEBLEND_TESTS_LAYER_ROUTE_LIST_HPP

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "layer_routes.hpp"

namespace layers_testing {

struct LayerRoute {
  std::string via; // "scalar", "sse2", "avx2", "avx512" or "exported"
  byteblend::BlendWithOpacityFunction *blend_with_opacity;
  byteblend::CompositeFunction *composite;
  bool runs_here;
};

std::vector<LayerRoute> all_layer_routes();

void PrintTo(const LayerRoute &route, std::ostream *out);

#define SKIP_IF_ROUTE_UNSUPPORTED(route)                                       \
  do {                                                                         \
    if (!(route).runs_here) {                                                  \
      GTEST_SKIP() << "this CPU lacks " << (route).via << "; layers via "      \
                   << (route).via << " not tested here";                       \
    }                                                                          \
  } while (false)

} // namespace layers_testing

#endif
