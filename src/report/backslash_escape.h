#pragma once
#include <optional>
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

// The text BackslashEscape gave text for; none when escaped is not such a
// text (a lone backslash, an unknown escape).
inline std::optional<std::string> BackslashUnescape(std::string_view escaped) {
  std::string out;
  out.reserve(escaped.size());
  const auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  for (std::size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] != '\\') {
      out += escaped[i];
      continue;
    }
    if (++i >= escaped.size()) return std::nullopt;
    switch (escaped[i]) {
      case '\\': out += '\\'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'x': {
        const int high = i + 1 < escaped.size() ? hex(escaped[i + 1]) : -1;
        const int low = i + 2 < escaped.size() ? hex(escaped[i + 2]) : -1;
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
        break;
      }
      default: return std::nullopt;
    }
  }
  return out;
}

}  // namespace veldrano
