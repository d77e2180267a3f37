// SPDX-License-Identifier: MIT
// The mode names users type, and the C kernel each one must reach, in the
// library's order: that of the C functions in byteblend.h.
#ifndef BYTEBLEND_TESTS_MODE_TABLE_HPP
#define BYTEBLEND_TESTS_MODE_TABLE_HPP

#include <string_view>

#include "byteblend.hpp"

namespace testing_support {

struct NamedMode {
  byteblend::Mode mode;
  std::string_view name;
  std::string_view kernel;
  byteblend::KernelFunction *function; // the export named by kernel
};

inline constexpr NamedMode kNamedModes[] = {
    {byteblend::Mode::addition, "addition", "AdditionBlend", AdditionBlend},
    {byteblend::Mode::subtraction, "subtraction", "SubtractionBlend",
     SubtractionBlend},
    {byteblend::Mode::multiplication, "multiplication", "MultiplicationBlend",
     MultiplicationBlend},
    {byteblend::Mode::screen, "screen", "ScreenBlend", ScreenBlend},
    {byteblend::Mode::red_channel, "red-channel", "RedChannelBlend",
     RedChannelBlend},
    {byteblend::Mode::green_channel, "green-channel", "GreenChannelBlend",
     GreenChannelBlend},
    {byteblend::Mode::blue_channel, "blue-channel", "BlueChannelBlend",
     BlueChannelBlend},
    {byteblend::Mode::opacity, "opacity", "OpacityBlend", OpacityBlend},
    {byteblend::Mode::overlay, "overlay", "OverlayBlend", OverlayBlend},
    {byteblend::Mode::lighten, "lighten", "LightenBlend", LightenBlend},
    {byteblend::Mode::darken, "darken", "DarkenBlend", DarkenBlend},
    {byteblend::Mode::color_dodge, "color-dodge", "ColorDodgeBlend",
     ColorDodgeBlend},
    {byteblend::Mode::color_burn, "color-burn", "ColorBurnBlend",
     ColorBurnBlend},
};

} // namespace testing_support

#endif
