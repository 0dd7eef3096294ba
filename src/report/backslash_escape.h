#pragma once
#include <string>
#include <string_view>

namespace veldrano {

// text with backslashes, line feeds and carriage returns (and TABs when
// escapeTab) written as \\, \n, \r and \t, so that it always stays on one
// line (and in one TAB-separated column), and every other control byte (the
// rest of 0x00-0x1f, and DEL) as \x followed by two lower-case hexadecimal
// digits, so that a file name cannot drive the terminal it is shown on.
inline std::string BackslashEscape(std::string_view text, bool escapeTab) {
  constexpr char Hex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t':
        if (escapeTab) {
          out += "\\t";
          break;
        }
        out += c;
        break;
      default:
        if (byte < 0x20 || byte == 0x7f) {
          out.append("\\x").append(1, Hex[byte >> 4]).append(1, Hex[byte & 0xf]);
        } else {
          out += c;
        }
    }
  }
  return out;
}

}  // namespace veldrano
