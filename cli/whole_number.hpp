// SPDX-License-Identifier: MIT
// Whole numbers on the command line, read by one rule: an optional sign
// ('+' or '-'), then decimal digits, nothing else, within the type's range.
#ifndef BYTEBLEND_CLI_WHOLE_NUMBER_HPP
#define BYTEBLEND_CLI_WHOLE_NUMBER_HPP

#include <charconv>
#include <optional>
#include <string_view>

namespace byteblend::tool {

template <class Integer>
std::optional<Integer> parse_whole_number(std::string_view text) {
  // std::from_chars takes '-' but not '+'; "+-1" stays refused.
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text.front() == '-') {
      return std::nullopt;
    }
  }
  Integer value{};
  const char *end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) {
    return std::nullopt;
  }
  return value;
}

} // namespace byteblend::tool

#endif
