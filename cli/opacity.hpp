// SPDX-License-Identifier: MIT
// `--opacity O`: how much of the blended TOP shows, as a fraction from 0 to
// 1 or a percentage from 0% to 100%.
#ifndef BYTEBLEND_CLI_OPACITY_HPP
#define BYTEBLEND_CLI_OPACITY_HPP

#include <optional>
#include <string_view>

namespace byteblend::tool {

// A decimal number without sign or exponent ("0.7", ".5", "1", "1.0"; not
// "1."), or
// one followed by '%' ("70%", "12.5%"), within [0, 1] (0% to 100%); none
// for anything else (signs, exponents, spaces, "nan", "inf", hexadecimal,
// a value out of range). A percentage is the fraction of the same digits,
// so "70%" and "0.70" give the same double, and so the same opacity byte.
std::optional<double> parse_opacity(std::string_view text);

} // namespace byteblend::tool

#endif
