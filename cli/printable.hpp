// SPDX-License-Identifier: MIT
// Text for the terminal: file names may hold any byte but '/' and NUL, and
// a name with escape sequences or line breaks must not move the cursor,
// recolour the terminal or forge a line when it is reported.
#ifndef BYTEBLEND_CLI_PRINTABLE_HPP
#define BYTEBLEND_CLI_PRINTABLE_HPP

#include <string>
#include <string_view>

namespace byteblend::tool {

// `text` with every control character (C0, DEL, and C1 encoded in UTF-8)
// written as \xNN; everything else, UTF-8 included, as it is.
std::string printable(std::string_view text);

} // namespace byteblend::tool

#endif
