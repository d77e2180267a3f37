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

#define BYTEBLEND_TARGET(name, ...) Target::name,
constexpr Target kTargets[] = {BYTEBLEND_FOR_EACH_TARGET(BYTEBLEND_TARGET)};
#undef BYTEBLEND_TARGET

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
    ASSERT_TRUE(named.has_value()) << "BYTEBLEND_EXPECT_BUILD=" << variable
                                   << " names no build of target_list.hpp";
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

// The choice among the builds for a given set of features, against what
// each instruction set needs: a wide build needs the CPU's instructions and
// the operating system's saving of its registers.
TEST(ResolvedBuild, ChoosesTheWidestBuildThatTheFeaturesAllow) {
  namespace feature = byteblend::feature;
  constexpr unsigned kAvx2 = feature::avx2 | feature::fma | feature::ymm_state;
  constexpr unsigned kAvx512 = kAvx2 | feature::avx512f | feature::avx512bw |
                               feature::avx512vl | feature::zmm_state;
  const struct {
    unsigned features;
    std::string_view build;
  } cases[] = {
      {feature::none, "sse2"},
      {kAvx2, "avx2"},
      {kAvx2 & ~feature::fma, "sse2"},
      {kAvx2 & ~feature::ymm_state, "sse2"},
      {kAvx512, "avx512"},
      {kAvx512 & ~feature::avx512bw, "avx2"},
      {kAvx512 & ~feature::avx512vl, "avx2"},
      {kAvx512 & ~feature::zmm_state, "avx2"},
      {kAvx512 & ~feature::ymm_state, "sse2"},
  };
  for (const auto &[features, build] : cases) {
    EXPECT_EQ(byteblend::target_name(
                  byteblend::best_target(features | feature::read)),
              build)
        << "features 0x" << std::hex << features;
  }
}

// The resolvers ask the CPU once: the first call keeps what it read, and
// every later call answers from that copy. Seeded with feature sets that
// differ from each other, so that on any CPU at least one of them differs
// from what CPUID would say.
TEST(ResolvedBuild, FeaturesAreReadOnceAndKept) {
  namespace feature = byteblend::feature;
  unsigned &kept = byteblend::cpu_features_read;
  const unsigned saved = kept;
  kept = 0;
  EXPECT_EQ(byteblend::cpu_features(), byteblend::read_cpu_features());
  EXPECT_EQ(kept, byteblend::read_cpu_features());
  const struct {
    unsigned features;
    std::string_view build;
  } seeds[] = {
      {feature::read, "sse2"},
      {feature::read | feature::avx2 | feature::fma | feature::ymm_state |
           feature::avx512f | feature::avx512bw | feature::avx512vl |
           feature::zmm_state,
       "avx512"},
  };
  for (const auto &[features, build] : seeds) {
    kept = features;
    EXPECT_EQ(byteblend::cpu_features(), features);
    EXPECT_EQ(byteblend::target_name(byteblend::best_target()), build);
  }
  kept = saved;
}

} // namespace
