// SPDX-License-Identifier: MIT
// Options::opacity without the layers library: its byte, and the plain
// blend()s, which take only an opacity whose byte is 255 (and, on images,
// only Operator::atop). This program links libbyteblend alone.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "byteblend_image.hpp"

namespace {

using byteblend::Mode;
using byteblend::Operator;
using byteblend::Options;

TEST(OpacityByte, IsTheNearestByteHalvesUp) {
  struct Case {
    double opacity;
    int byte;
  };
  // o * 255 is exactly k + 0.5 for the halves below.
  const Case cases[] = {
      {0.0, 0},       {-0.0, 0},       {1.0, 255},
      {0.5, 128},     {0.7, 179},      {0.3, 77},
      {0.5 / 255, 1}, {2.5 / 255, 3},  {254.5 / 255, 255},
      {1.0 / 255, 1}, {0.49 / 255, 0}, {254.49 / 255, 254},
      {0.998, 254},   {0.9981, 255},   {128.0 / 255, 128},
  };
  for (const Case c : cases) {
    EXPECT_EQ(byteblend::opacity_byte(c.opacity), c.byte) << c.opacity;
  }
}

TEST(OpacityByte, NaNAndValuesOutsideZeroToOneThrow) {
  for (const double opacity :
       {-0.001, 1.0001, 2.0, -1.0, std::numeric_limits<double>::quiet_NaN(),
        std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity()}) {
    EXPECT_THROW(byteblend::opacity_byte(opacity), std::invalid_argument)
        << opacity;
  }
}

// The plain blend()s with an opacity whose byte is 255 give their usual
// bytes; any other opacity, and Operator::over on images, throw before a
// byte is written, pointing at the layers header.
TEST(OpacityOption, PlainBlendsTakeOnlyTheFullOpacity) {
  const std::vector<std::uint8_t> top = {0, 64, 128, 192, 255, 30};
  const std::vector<std::uint8_t> bottom = {0, 128, 128, 64, 255, 220};
  std::vector<std::uint8_t> expected(top.size());
  byteblend::blend(Mode::screen, top, bottom, expected);

  struct Case {
    const char *what;
    Options options;
    bool images_throw; // the image blend()
    bool arrays_throw; // the flat blend()
  };
  const Case cases[] = {
      {"the default", {}, false, false},
      {"an opacity of byte 255", {.opacity = 254.5 / 255}, false, false},
      {"an opacity of byte 254", {.opacity = 254.49 / 255}, true, true},
      {"half", {.opacity = 0.5}, true, true},
      {"none", {.opacity = 0}, true, true},
      {"NaN",
       {.opacity = std::numeric_limits<double>::quiet_NaN()},
       true,
       true},
      {"above 1", {.opacity = 1.5}, true, true},
      // Arrays have no alpha: both operators give the same bytes.
      {"over", {.blend_operator = Operator::over}, true, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const std::function<void(std::vector<std::uint8_t> &)> calls[] = {
        [&](std::vector<std::uint8_t> &result) {
          byteblend::blend(Mode::screen, top, bottom, result, c.options);
        },
        [&](std::vector<std::uint8_t> &result) {
          byteblend::blend(
              Mode::screen, byteblend::ImageView(top.data(), 2, 1, 3),
              byteblend::ImageView(bottom.data(), 2, 1, 3),
              byteblend::MutableImageView(result.data(), 2, 1, 3), c.options);
        }};
    for (const bool on_images : {false, true}) {
      std::vector<std::uint8_t> result(top.size(), 7);
      const auto &call = calls[on_images ? 1 : 0];
      if (on_images ? c.images_throw : c.arrays_throw) {
        try {
          call(result);
          ADD_FAILURE() << "no exception, images " << on_images;
        } catch (const std::invalid_argument &error) {
          const std::string message = error.what();
          if (message.find("opacity is between") == std::string::npos) {
            EXPECT_NE(message.find("byteblend_layers.hpp"), std::string::npos)
                << message;
          }
        }
        EXPECT_EQ(result, std::vector<std::uint8_t>(top.size(), 7))
            << "written before the throw, images " << on_images;
      } else {
        call(result);
        EXPECT_EQ(result, expected) << "images " << on_images;
      }
    }
  }
}

} // namespace
