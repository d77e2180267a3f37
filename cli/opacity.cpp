// SPDX-License-Identifier: MIT
#include "opacity.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <string>

namespace byteblend::tool {

namespace {

bool all_digits(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](unsigned char c) { return std::isdigit(c) != 0; });
}

} // namespace

std::optional<double> parse_opacity(std::string_view text) {
  const bool percent = text.ends_with('%');
  if (percent) {
    text.remove_suffix(1);
  }
  const std::size_t point = text.find('.');
  const std::string_view whole = text.substr(0, point);
  const std::string_view fraction = point == std::string_view::npos
                                        ? std::string_view{}
                                        : text.substr(point + 1);
  // Digits on at least one side of the point, and after it where there is
  // one: "1", ".5", "0.5", but not "", "." or "1.".
  if ((whole.empty() && fraction.empty()) ||
      (point != std::string_view::npos && fraction.empty()) ||
      !all_digits(whole) || !all_digits(fraction)) {
    return std::nullopt;
  }
  // The digits as a whole number and a power of ten, read by from_chars in
  // one correctly rounded step: a percentage moves the point, not the
  // rounding, so it never differs from the fraction written out.
  const std::size_t places = fraction.size() + (percent ? 2 : 0);
  std::string scientific(whole);
  scientific += fraction;
  scientific += "e-" + std::to_string(places);
  double value = 0;
  const char *end = scientific.data() + scientific.size();
  const auto [stop, error] = std::from_chars(scientific.data(), end, value);
  if (error != std::errc() || stop != end || value > 1) {
    return std::nullopt;
  }
  return value;
}

} // namespace byteblend::tool
