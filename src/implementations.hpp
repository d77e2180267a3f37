// SPDX-License-Identifier: MIT
// Every build of every kernel that the library contains, for the tests and
// benchmarks, which run each of them (as glibc lists its string-function
// variants). Not part of the shared object.
#ifndef BYTEBLEND_IMPLEMENTATIONS_HPP
#define BYTEBLEND_IMPLEMENTATIONS_HPP

#include <span>
#include <string_view>

#include "cpu_features.hpp"
#include "kernel_list.hpp"

namespace byteblend {

struct Implementation {
  std::string_view kernel; // the exported name, "AdditionBlend"
  Target target;
  KernelFunction *function;
};

// Every build of each kernel, in the library's order of kernels and, per
// kernel, in target_list.hpp's order of targets.
std::span<const Implementation> implementations();

std::string_view target_name(Target target);

} // namespace byteblend

#endif
