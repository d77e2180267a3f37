// SPDX-License-Identifier: MIT
// Every route of every kernel called from a host whose floating-point
// environment is not the default one: another rounding mode, flush-to-zero
// and denormals-are-zero, or traps unmasked for division by zero, invalid
// operations and overflow. The bytes must be those of the default
// environment, no trap may fire, and the caller's SSE control and status
// register (MXCSR) and x87 control word must be exactly as they were.
#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <csetjmp>
#include <csignal>
#include <cstdint>
#include <string>

#include "exhaustive_check.hpp"
#include "implementation_list.hpp"
#include "reference.hpp"

namespace {

using testing_support::Route;

// MXCSR fields.
constexpr std::uint32_t kDefaultMxcsr = 0x1F80; // nearest, all masked
constexpr std::uint32_t kRoundDown = 0x2000;
constexpr std::uint32_t kRoundUp = 0x4000;
constexpr std::uint32_t kRoundTowardZero = 0x6000;
constexpr std::uint32_t kFlushToZero = 0x8000;
constexpr std::uint32_t kDenormalsAreZero = 0x0040;
constexpr std::uint32_t kInvalidMasked = 0x0080;
constexpr std::uint32_t kDivideByZeroMasked = 0x0200;
constexpr std::uint32_t kOverflowMasked = 0x0400;
constexpr std::uint32_t kTrapsMasked =
    kInvalidMasked | kDivideByZeroMasked | kOverflowMasked;
constexpr std::uint32_t kInexactRaised = 0x0020; // a sticky status flag

// x87 control word fields: the same rounding modes two places lower, and
// the same exception masks seven places lower.
constexpr std::uint16_t kDefaultX87 = 0x037F;
constexpr int kX87RoundingShift = 3;
constexpr int kX87MaskShift = 7;

struct Environment {
  std::string name;
  std::uint32_t mxcsr;

  // What fesetround and feenableexcept would give the x87 unit alongside.
  [[nodiscard]] std::uint16_t x87_control() const {
    const std::uint32_t rounding =
        (mxcsr & kRoundTowardZero) >> kX87RoundingShift;
    const std::uint32_t unmasked = (kTrapsMasked & ~mxcsr) >> kX87MaskShift;
    return static_cast<std::uint16_t>((kDefaultX87 | rounding) & ~unmasked);
  }
};

const Environment kEnvironments[] = {
    {"round down", kDefaultMxcsr | kRoundDown},
    {"round up", kDefaultMxcsr | kRoundUp},
    {"round toward zero", kDefaultMxcsr | kRoundTowardZero},
    {"flush to zero, denormals are zero",
     kDefaultMxcsr | kFlushToZero | kDenormalsAreZero},
    {"divide-by-zero, invalid and overflow trapped",
     kDefaultMxcsr & ~kTrapsMasked},
    {"all of these, inexact already raised",
     ((kDefaultMxcsr | kRoundUp | kFlushToZero | kDenormalsAreZero) &
      ~kTrapsMasked) |
         kInexactRaised},
};

std::uint16_t x87_control_word() {
  std::uint16_t word = 0;
  asm volatile("fnstcw %0" : "=m"(word));
  return word;
}

void set_x87_control_word(std::uint16_t word) {
  asm volatile("fldcw %0" : : "m"(word));
}

// Where a SIGFPE from inside a kernel returns to.
sigjmp_buf trap_return;

extern "C" void return_from_trap(int /*signal*/) { siglongjmp(trap_return, 1); }

// What the environment looked like when a call returned.
struct Observed {
  bool trapped = false;
  std::uint32_t mxcsr = 0;
  std::uint16_t x87_control = 0;
};

// Calls `function` in `environment`, notes what the environment is
// afterwards, and restores the default one (also after a trap, which is
// turned into a failure rather than a crash).
Observed call_in(const Environment &environment,
                 testing_support::KernelPointer function, std::int32_t length,
                 const std::uint8_t *top, const std::uint8_t *bottom,
                 std::uint8_t *result) {
  struct sigaction on_trap = {};
  on_trap.sa_handler = return_from_trap;
  struct sigaction previous = {};
  sigaction(SIGFPE, &on_trap, &previous);
  // Set before the environment changes, so that nothing but the kernel runs
  // under it; volatile, as it is read again after the jump.
  volatile Observed observed;
  if (sigsetjmp(trap_return, 1) == 0) {
    set_x87_control_word(environment.x87_control());
    _mm_setcsr(environment.mxcsr);
    function(length, top, bottom, result);
    observed.mxcsr = _mm_getcsr();
    observed.x87_control = x87_control_word();
  } else {
    observed.trapped = true;
  }
  _mm_setcsr(kDefaultMxcsr);
  set_x87_control_word(kDefaultX87);
  sigaction(SIGFPE, &previous, nullptr);
  return {observed.trapped, observed.mxcsr, observed.x87_control};
}

// Whether the machine keeps every environment that the test sets. Valgrind,
// for one, emulates only the default MXCSR and reads the default back
// whatever was written.
bool environments_are_kept() {
  bool kept = true;
  for (const Environment &environment : kEnvironments) {
    _mm_setcsr(environment.mxcsr);
    kept = kept && _mm_getcsr() == environment.mxcsr;
    _mm_setcsr(kDefaultMxcsr);
  }
  return kept;
}

class FloatEnvironmentTest : public testing::TestWithParam<Route> {};

TEST_P(FloatEnvironmentTest, DefaultBytesAndCallerStateKept) {
  const Route &route = GetParam();
  SKIP_IF_UNSUPPORTED(route);
  if (!environments_are_kept()) {
    GTEST_SKIP() << "this machine does not keep a non-default MXCSR (an "
                    "emulator such as valgrind); the floating-point "
                    "environment is not tested here";
  }
  for (const Environment &environment : kEnvironments) {
    SCOPED_TRACE(environment.name);
    Observed observed;
    const std::int32_t mismatches =
        testing_support::count_mismatches_over_all_pairs(
            reference::kernel_named(route.kernel),
            [&](std::int32_t length, const std::uint8_t *top,
                const std::uint8_t *bottom, std::uint8_t *result) {
              observed = call_in(environment, route.function, length, top,
                                 bottom, result);
            },
            route.kernel + " via " + route.via + " (" + environment.name + ")");
    ASSERT_FALSE(observed.trapped) << "a floating-point trap fired";
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(observed.mxcsr, environment.mxcsr) << std::hex;
    EXPECT_EQ(observed.x87_control, environment.x87_control()) << std::hex;
  }
}

INSTANTIATE_TEST_SUITE_P(AllRoutes, FloatEnvironmentTest,
                         testing::ValuesIn(testing_support::all_routes()),
                         testing_support::route_name);

} // namespace
