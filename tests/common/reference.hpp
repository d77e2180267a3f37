// SPDX-License-Identifier: MIT
// The reference route: every kernel's formula written out operation by
// operation, exactly as the blend modes are defined (single precision for
// screen, overlay, dodge and burn, double for the opacity mix, signed 32-bit
// integers elsewhere). Deliberately plain and independent of the library's
// own routes, which are checked against it for every (top, bottom) pair.
// Compiled, like the library, without floating-point contraction.
#ifndef BYTEBLEND_TESTS_REFERENCE_HPP
#define BYTEBLEND_TESTS_REFERENCE_HPP

#include <array>
#include <cstdint>
#include <string_view>

namespace reference {

inline std::int32_t minimum(std::int32_t a, std::int32_t b) {
  return a < b ? a : b;
}
inline std::int32_t maximum(std::int32_t a, std::int32_t b) {
  return a > b ? a : b;
}

// A byte scaled into 0..1.
inline float normalized(std::int32_t x) {
  return static_cast<float>(x) / 255.0F;
}
// Plus one half, then toward zero.
inline std::int32_t rounded(float s) {
  return static_cast<std::int32_t>(s + 0.5F);
}

inline std::int32_t addition(std::int32_t t, std::int32_t b) {
  return minimum(t + b, 255);
}
inline std::int32_t subtraction(std::int32_t t, std::int32_t b) {
  return maximum(t - b, 0);
}
inline std::int32_t multiplication(std::int32_t t, std::int32_t b) {
  return rounded(static_cast<float>(t * b) / 255.0F);
}
inline std::int32_t screen(std::int32_t t, std::int32_t b) {
  const float top = normalized(t);
  const float bottom = normalized(b);
  const float p = (1.0F - top) * (1.0F - bottom);
  const float s = (1.0F - p) * 255.0F;
  return rounded(s);
}
inline std::int32_t channel(std::int32_t t, std::int32_t b) {
  return minimum(3 * t + b, 255);
}
inline std::int32_t opacity(std::int32_t t, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<double>(t) * 0.5 +
                                   static_cast<double>(b) * 0.5);
}
inline std::int32_t overlay(std::int32_t t, std::int32_t b) {
  const float top = normalized(t);
  const float bottom = normalized(b);
  if (!(bottom > 0.5F)) {
    const float q = static_cast<float>(t * b) / 255.0F;
    return static_cast<std::int32_t>(q * 2.0F + 0.5F);
  }
  const float d = (1.0F - top) + (1.0F - top);
  const float p = d * (1.0F - bottom);
  const float s = (1.0F - p) * 255.0F;
  return rounded(s);
}
inline std::int32_t lighten(std::int32_t t, std::int32_t b) {
  return maximum(t, b);
}
inline std::int32_t darken(std::int32_t t, std::int32_t b) {
  return minimum(t, b);
}
inline std::int32_t color_dodge(std::int32_t t, std::int32_t b) {
  if (t == 255) {
    return 255;
  }
  const float q = normalized(b) / (1.0F - normalized(t));
  const float s = q * 255.0F;
  return minimum(rounded(s), 255);
}
inline std::int32_t color_burn(std::int32_t t, std::int32_t b) {
  if (t == 0) {
    return 0;
  }
  const float q = (1.0F - normalized(b)) / normalized(t);
  const float s = (1.0F - q) * 255.0F;
  return maximum(rounded(s), 0);
}

// What a kernel does: its formula, and which indices it visits.
struct Kernel {
  std::string_view name;
  std::int32_t (*formula)(std::int32_t top, std::int32_t bottom);
  std::int32_t start;
  std::int32_t stride;
};

// In the library's order of definition.
inline constexpr std::array<Kernel, 13> kKernels = {{
    {"AdditionBlend", addition, 0, 1},
    {"SubtractionBlend", subtraction, 0, 1},
    {"MultiplicationBlend", multiplication, 0, 1},
    {"ScreenBlend", screen, 0, 1},
    {"RedChannelBlend", channel, 0, 3},
    {"GreenChannelBlend", channel, 1, 3},
    {"BlueChannelBlend", channel, 2, 3},
    {"OpacityBlend", opacity, 0, 1},
    {"OverlayBlend", overlay, 0, 1},
    {"LightenBlend", lighten, 0, 1},
    {"DarkenBlend", darken, 0, 1},
    {"ColorDodgeBlend", color_dodge, 0, 1},
    {"ColorBurnBlend", color_burn, 0, 1},
}};

inline const Kernel &kernel_named(std::string_view name) {
  for (const Kernel &kernel : kKernels) {
    if (kernel.name == name) {
      return kernel;
    }
  }
  __builtin_trap();
}

} // namespace reference

#endif
