// SPDX-License-Identifier: MIT
// Every way the tests can reach a kernel: each build that the library
// contains (one per instruction set) and the exported name itself. Tests
// parameterized over this list run once per route, and skip, with a message,
// the builds that this CPU cannot run.
#ifndef BYTEBLEND_TESTS_IMPLEMENTATION_LIST_HPP
#define BYTEBLEND_TESTS_IMPLEMENTATION_LIST_HPP

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "implementations.hpp"

namespace testing_support {

struct Route {
  std::string kernel; // "AdditionBlend"
  std::string via;    // "scalar", "sse2", "avx2", "avx512" or "exported"
  byteblend::KernelFunction *function;
  bool runs_here;
};

std::vector<Route> all_routes();

// How GoogleTest prints a route: "AdditionBlend via avx2".
void PrintTo(const Route &route, std::ostream *out);

// For INSTANTIATE_TEST_SUITE_P: "AdditionBlend_avx2".
std::string route_name(const testing::TestParamInfo<Route> &info);

// Call at the start of a test: skips it, saying why, where the CPU lacks the
// instruction set.
#define SKIP_IF_UNSUPPORTED(route)                                             \
  do {                                                                         \
    if (!(route).runs_here) {                                                  \
      GTEST_SKIP() << "this CPU lacks " << (route).via << "; "                 \
                   << (route).kernel << " via " << (route).via                 \
                   << " not tested here";                                      \
    }                                                                          \
  } while (false)

} // namespace testing_support

#endif
