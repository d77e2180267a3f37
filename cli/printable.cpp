#include "printable.hpp"

#include <cstdio>

namespace byteblend::tool {

namespace {

void append_escaped(std::string &out, unsigned char byte) {
  char escaped[5];
  std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
  out += escaped;
}

} // namespace

std::string printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const auto next =
        i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0U;
    if (byte < 0x20 || byte == 0x7F) {
      append_escaped(out, byte);
    } else if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {
      // U+0080..U+009F: C1 controls, CSI (U+009B) among them.
      append_escaped(out, byte);
      append_escaped(out, next);
      ++i;
    } else {
      out += static_cast<char>(byte);
    }
  }
  return out;
}

} // namespace byteblend::tool
