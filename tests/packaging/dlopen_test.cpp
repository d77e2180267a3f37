// SPDX-License-Identifier: MIT
// The shared object as a host uses it: loaded by path with dlopen, each of
// the fifteen functions resolved by name, and every kernel compared over all
// 65536 pairs through the resolved pointers. This program does not link the
// library, so the only copy in the process is the one dlopen loads.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

#include "exhaustive_check.hpp"
#include "reference.hpp"

namespace {

class LoadedLibrary : public testing::Test {
protected:
  static void SetUpTestSuite() {
    ASSERT_EQ(dlopen(BYTEBLEND_LIBRARY_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr)
        << "the library is loaded before dlopen";
    handle_ = dlopen(BYTEBLEND_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
  }
  static void TearDownTestSuite() {
    if (handle_ != nullptr) {
      dlclose(handle_);
    }
  }
  static void *symbol(const std::string &name) {
    void *address = handle_ == nullptr ? nullptr : dlsym(handle_, name.c_str());
    EXPECT_NE(address, nullptr) << name << " not found: " << dlerror();
    return address;
  }

  static void *handle_;
};

void *LoadedLibrary::handle_ = nullptr;

TEST_F(LoadedLibrary, ClampHelpersCompareSigned) {
  using Helper = std::int32_t (*)(std::int32_t, std::int32_t);
  const auto minimum = reinterpret_cast<Helper>(symbol("Minimum"));
  const auto maximum = reinterpret_cast<Helper>(symbol("Maximum"));
  ASSERT_NE(minimum, nullptr);
  ASSERT_NE(maximum, nullptr);
  EXPECT_EQ(minimum(-5, 3), -5);
  EXPECT_EQ(maximum(-5, 3), 3);
  EXPECT_EQ(minimum(INT32_MAX, INT32_MIN), INT32_MIN);
  EXPECT_EQ(maximum(INT32_MAX, INT32_MIN), INT32_MAX);
}

TEST_F(LoadedLibrary, EveryKernelMatchesReferenceForEveryPair) {
  for (const reference::Kernel &kernel : reference::kKernels) {
    const std::string name(kernel.name);
    const auto function =
        reinterpret_cast<testing_support::KernelPointer>(symbol(name));
    ASSERT_NE(function, nullptr);
    EXPECT_EQ(testing_support::count_mismatches_over_all_pairs(
                  kernel, function, name + " via dlsym"),
              0);
  }
}

} // namespace
