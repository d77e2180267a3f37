// SPDX-License-Identifier: MIT
// The divisions the layer routes round with, tried on every value they can
// meet (or, for over's division, on every divisor with the numerators nearest
// each half), on plain integers and on lane vectors.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstdint>

#include "lanes/scalar.hpp"
#include "lanes/sse2.hpp"
#include "layers/rounding.hpp"

namespace {

using byteblend::portable::divide_by_65025_rounded;
using byteblend::portable::divide_rounded;
using byteblend::portable::mix_with_opacity;
using byteblend::portable::ScalarLanes;
using byteblend::portable::Sse2Lanes;

typedef std::uint32_t Lanes32 __attribute__((vector_size(16)));
typedef float LanesFloat __attribute__((vector_size(16)));

// Over's alpha, round(n / 65025) for n up to 255 * 65025, as over makes
// it: every n.
TEST(Rounding, DivideBy65025EveryNumerator) {
  std::int64_t mismatches = 0;
  for (std::uint32_t n = 0; n <= 255U * 65025U; n += 4) {
    Lanes32 lanes{};
    for (std::uint32_t k = 0; k < 4; ++k) {
      lanes[k] = n + k;
    }
    const Lanes32 quotients = divide_by_65025_rounded<LanesFloat>(lanes);
    for (std::uint32_t k = 0; k < 4 && n + k <= 255U * 65025U; ++k) {
      const std::uint32_t expected = (2 * (n + k) + 65025) / 130050;
      if (quotients[k] != expected && ++mismatches <= 5) {
        ADD_FAILURE() << "n " << n + k << ": " << quotients[k] << ", expected "
                      << expected;
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

// Every divisor y from 3 to 2^24 with, for quotients at both ends and in the
// middle, the two numerators on either side of the half between quotients
// (the half itself where y is even): where an estimate is likeliest to be
// one off. The inverse at both ends of the error divide_rounded allows it
// (2^-11 relative, a reciprocal estimate's) and correctly rounded.
TEST(Rounding, DivideRoundedEveryDivisorAtTheHalves) {
  constexpr std::uint32_t kQuotients[] = {0, 1, 2, 127, 128, 253, 254};
  std::int64_t mismatches = 0;
  for (const double error : {-0x1p-11, 0.0, 0x1p-11}) {
    for (std::uint32_t y = 3; y < (1U << 24) && mismatches == 0; ++y) {
      const Lanes32 divisors = Lanes32{} + y;
      const LanesFloat inverse =
          LanesFloat{} + static_cast<float>((1.0 + error) / y);
      for (const std::uint32_t k : kQuotients) {
        // x / y + 1/2 crosses k + 1 between these two.
        const std::uint32_t above = k * y + (y + 1) / 2;
        const Lanes32 xs = {above - 1, above, above + 1, 255 * y};
        const Lanes32 quotients = divide_rounded(xs, divisors, inverse);
        for (int lane = 0; lane < 4; ++lane) {
          const std::uint64_t x = xs[lane];
          const auto expected =
              static_cast<std::uint32_t>((2 * x + y) / (2 * std::uint64_t{y}));
          if (quotients[lane] != expected && ++mismatches <= 5) {
            ADD_FAILURE() << "x " << x << ", y " << y << ", inverse off by "
                          << error << ": " << quotients[lane] << ", expected "
                          << expected;
          }
        }
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

// Every (r, b, a) through the 16-bit lanes and the plain route.
TEST(Rounding, MixWithOpacityEveryTriple) {
  std::int64_t mismatches = 0;
  for (unsigned a = 0; a < 256; ++a) {
    for (unsigned r = 0; r < 256; ++r) {
      const Sse2Lanes::Bytes rs =
          Sse2Lanes::Bytes{} + static_cast<std::uint8_t>(r);
      for (unsigned b = 0; b < 256; b += 16) {
        std::array<std::uint8_t, 16> bottoms{};
        for (unsigned k = 0; k < 16; ++k) {
          bottoms[k] = static_cast<std::uint8_t>(b + k);
        }
        const auto bs = std::bit_cast<Sse2Lanes::Bytes>(bottoms);
        const Sse2Lanes::Bytes mixed = mix_with_opacity<Sse2Lanes>(rs, bs, a);
        for (unsigned k = 0; k < 16; ++k) {
          const unsigned expected =
              (2 * (a * r + (255 - a) * (b + k)) + 255) / 510;
          const auto plain =
              static_cast<unsigned>(mix_with_opacity<ScalarLanes>(
                  static_cast<std::int32_t>(r),
                  static_cast<std::int32_t>(b + k), a));
          if ((mixed[k] != expected || plain != expected) &&
              ++mismatches <= 5) {
            ADD_FAILURE() << "a " << a << ", r " << r << ", b " << b + k << ": "
                          << int{mixed[k]} << " and " << plain << ", expected "
                          << expected;
          }
        }
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

} // namespace
