#pragma once
#include <string>
#include <string_view>

namespace veldrano {

// text with backslashes, line feeds and carriage returns (and TABs when
// escapeTab) written as \\, \n, \r and \t, so that it always stays on one
// line (and in one TAB-separated column).
inline std::string BackslashEscape(std::string_view text, bool escapeTab) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t':
        if (escapeTab) {
          out += "\\t";
          break;
        }
        [[fallthrough]];
      default: out += c;
    }
  }
  return out;
}

}  // namespace veldrano
