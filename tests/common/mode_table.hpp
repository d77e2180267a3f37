// SPDX-License-Identifier: MIT
// The mode names users type, and the C kernel each one must reach.
#ifndef BYTEBLEND_TESTS_MODE_TABLE_HPP
#define BYTEBLEND_TESTS_MODE_TABLE_HPP

#include <string_view>

#include "byteblend.hpp"

namespace testing_support {

struct NamedMode {
  byteblend::Mode mode;
  std::string_view name;
  std::string_view kernel;
};

inline constexpr NamedMode kNamedModes[] = {
    {byteblend::Mode::addition, "addition", "AdditionBlend"},
    {byteblend::Mode::subtraction, "subtraction", "SubtractionBlend"},
    {byteblend::Mode::multiplication, "multiplication", "MultiplicationBlend"},
    {byteblend::Mode::screen, "screen", "ScreenBlend"},
    {byteblend::Mode::overlay, "overlay", "OverlayBlend"},
    {byteblend::Mode::lighten, "lighten", "LightenBlend"},
    {byteblend::Mode::darken, "darken", "DarkenBlend"},
    {byteblend::Mode::color_dodge, "color-dodge", "ColorDodgeBlend"},
    {byteblend::Mode::color_burn, "color-burn", "ColorBurnBlend"},
    {byteblend::Mode::opacity, "opacity", "OpacityBlend"},
    {byteblend::Mode::red_channel, "red-channel", "RedChannelBlend"},
    {byteblend::Mode::green_channel, "green-channel", "GreenChannelBlend"},
    {byteblend::Mode::blue_channel, "blue-channel", "BlueChannelBlend"},
};

} // namespace testing_support

#endif
