// SPDX-License-Identifier: MIT
// The instruction sets that the kernels are built for, from the plainest to
// the widest. Everything that differs per instruction set comes from this
// one list: the Target enum and its names, what each needs of the CPU, the
// choice of the load-time resolvers (the widest that the CPU supports), the
// kernels' declarations and the table of every build for the tests. Adding
// an instruction set takes its entry here, its lane kit (lanes/<name>.hpp)
// and its line in cmake/instruction_sets.cmake.
//
// X(name, lane kit, features needed, ...):
//   name             the namespace of its build and the file of its lane kit;
//   lane kit         the kit's type in that file;
//   features needed  the cpu_features.hpp bits that the CPU must all have;
//   ...              whatever the user of the list passes after X, for a
//                    list nested in another (say, every kernel per target).
#ifndef BYTEBLEND_TARGET_LIST_HPP
#define BYTEBLEND_TARGET_LIST_HPP

#define BYTEBLEND_FOR_EACH_TARGET(X, ...)                                      \
  X(scalar, ScalarLanes, feature::none, __VA_ARGS__)                           \
  X(sse2, Sse2Lanes, feature::none, __VA_ARGS__)                               \
  X(avx2, Avx2Lanes, feature::avx2 | feature::fma | feature::ymm_state,        \
    __VA_ARGS__)                                                               \
  X(avx512, Avx512Lanes,                                                       \
    feature::avx2 | feature::fma | feature::ymm_state | feature::avx512f |     \
        feature::avx512bw | feature::avx512vl | feature::zmm_state,            \
    __VA_ARGS__)

#endif
