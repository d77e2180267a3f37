// SPDX-License-Identifier: MIT
// Which build the dynamic loader binds each exported kernel to: the AVX-512
// build on a CPU with AVX-512 BW and VL, the AVX2 build on one with AVX2 and
// FMA but no AVX-512, the SSE2 build on any other x86-64. The builds give
// the same bytes, so no test of the bytes can tell them apart; the symbol at
// the resolved address can.
//
// The expected build is the one BYTEBLEND_EXPECT_BUILD names (the qemu CI
// stage sets it from the emulated CPU model, not from CPUID), or else the
// best build that the library's own CPUID check finds here.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "implementations.hpp"
#include "symbol_table.hpp"

namespace {

using byteblend::Target;

constexpr Target kTargets[] = {Target::scalar, Target::sse2, Target::avx2,
                               Target::avx512};

#define BYTEBLEND_NAME(name) #name,
constexpr std::string_view kKernels[] = {
    BYTEBLEND_FOR_EACH_KERNEL(BYTEBLEND_NAME)};
#undef BYTEBLEND_NAME

std::string length_prefixed(std::string_view name) {
  return std::to_string(name.size()) + std::string(name);
}

// The build of `kernel` that a mangled name denotes, if any:
// "_ZN9byteblend4avx213AdditionBlendEiPKhS2_Ph" is byteblend::avx2's.
std::optional<Target> build_named(std::string_view mangled,
                                  std::string_view kernel) {
  for (const Target target : kTargets) {
    const std::string prefix = "_ZN9byteblend" +
                               length_prefixed(byteblend::target_name(target)) +
                               length_prefixed(kernel) + "E";
    if (mangled.starts_with(prefix)) {
      return target;
    }
  }
  return std::nullopt;
}

struct Lookup {
  std::optional<Target> build;
  std::string found; // what lies at the address, for the failure message
};

Lookup build_at(const void *address, std::string_view kernel) {
  const testing_support::FunctionNames names =
      testing_support::function_names_at(address);
  Lookup lookup{std::nullopt, names.object + ":"};
  if (!names.error.empty()) {
    lookup.found += " " + names.error;
  }
  for (const std::string &name : names.names) {
    lookup.found += " " + name;
    if (!lookup.build) {
      lookup.build = build_named(name, kernel);
    }
  }
  return lookup;
}

std::optional<Target> target_called(std::string_view name) {
  for (const Target target : kTargets) {
    if (byteblend::target_name(target) == name) {
      return target;
    }
  }
  return std::nullopt;
}

// The lookup itself, on the statically linked builds of this program, whose
// answers are known.
TEST(ResolvedBuild, SymbolTableNamesTheBuildOfEachLinkedKernel) {
  for (const byteblend::Implementation &implementation :
       byteblend::implementations()) {
    const Lookup lookup =
        build_at(reinterpret_cast<const void *>(implementation.function),
                 implementation.kernel);
    ASSERT_TRUE(lookup.build.has_value())
        << implementation.kernel << ": " << lookup.found;
    EXPECT_EQ(byteblend::target_name(*lookup.build),
              byteblend::target_name(implementation.target))
        << implementation.kernel << ": " << lookup.found;
  }
}

TEST(ResolvedBuild, ExportedKernelsAreBoundToTheExpectedBuild) {
  const char *variable = std::getenv("BYTEBLEND_EXPECT_BUILD");
  Target expected = byteblend::best_target();
  if (variable != nullptr) {
    const std::optional<Target> named = target_called(variable);
    ASSERT_TRUE(named.has_value())
        << "BYTEBLEND_EXPECT_BUILD=" << variable
        << " names no build (scalar, sse2, avx2, avx512)";
    expected = *named;
  }
  std::cout << "expecting the " << byteblend::target_name(expected) << " build"
            << (variable == nullptr ? ", the best that CPUID reports here"
                                    : ", as BYTEBLEND_EXPECT_BUILD says")
            << "\n";
  for (const std::string_view kernel : kKernels) {
    const void *address = dlsym(RTLD_DEFAULT, std::string(kernel).c_str());
    ASSERT_NE(address, nullptr) << kernel << ": " << dlerror();
    const Lookup lookup = build_at(address, kernel);
    ASSERT_TRUE(lookup.build.has_value()) << kernel << ": " << lookup.found;
    EXPECT_EQ(byteblend::target_name(*lookup.build),
              byteblend::target_name(expected))
        << kernel << ": " << lookup.found;
  }
}

} // namespace
