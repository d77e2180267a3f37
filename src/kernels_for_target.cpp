// SPDX-License-Identifier: MIT
// The thirteen kernels, built from their formulas and the element loops.
// This file is compiled once per instruction set; the build defines
// BYTEBLEND_TARGET_NAMESPACE and the compiler flags of that set.
#include "element_loop.hpp"
#include "float_environment.hpp"
#include "formulas/channel.hpp"
#include "formulas/direct.hpp"
#include "formulas/normalized.hpp"
#include "lanes/for_target.hpp"
#include "targets.hpp"

namespace byteblend::BYTEBLEND_TARGET_NAMESPACE {

using L = TargetLanes;

#define BYTEBLEND_EVERY_BYTE(name, formula)                                    \
  void name(std::int32_t length, const std::uint8_t *top,                      \
            const std::uint8_t *bottom, std::uint8_t *result) {                \
    blend_every_byte<L, formula>(length, top, bottom, result);                 \
  }
// For the kernels that compute in floating point.
#define BYTEBLEND_EVERY_BYTE_IN_FLOAT(name, formula)                           \
  void name(std::int32_t length, const std::uint8_t *top,                      \
            const std::uint8_t *bottom, std::uint8_t *result) {                \
    blend_every_byte_in_default_environment<L, formula>(length, top, bottom,   \
                                                        result);               \
  }
#define BYTEBLEND_ONE_CHANNEL(name, start)                                     \
  void name(std::int32_t length, const std::uint8_t *top,                      \
            const std::uint8_t *bottom, std::uint8_t *result) {                \
    blend_one_channel<L, ChannelSum, start>(length, top, bottom, result);      \
  }

BYTEBLEND_EVERY_BYTE(AdditionBlend, Addition)
BYTEBLEND_EVERY_BYTE(SubtractionBlend, Subtraction)
BYTEBLEND_EVERY_BYTE(MultiplicationBlend, Multiplication)
BYTEBLEND_EVERY_BYTE(ScreenBlend, Screen)
BYTEBLEND_ONE_CHANNEL(RedChannelBlend, 0)
BYTEBLEND_ONE_CHANNEL(GreenChannelBlend, 1)
BYTEBLEND_ONE_CHANNEL(BlueChannelBlend, 2)
BYTEBLEND_EVERY_BYTE(OpacityBlend, Opacity)
BYTEBLEND_EVERY_BYTE(OverlayBlend, Overlay)
BYTEBLEND_EVERY_BYTE(LightenBlend, Lighten)
BYTEBLEND_EVERY_BYTE(DarkenBlend, Darken)
BYTEBLEND_EVERY_BYTE_IN_FLOAT(ColorDodgeBlend, ColorDodge)
BYTEBLEND_EVERY_BYTE_IN_FLOAT(ColorBurnBlend, ColorBurn)

} // namespace byteblend::BYTEBLEND_TARGET_NAMESPACE
