#pragma once

namespace veldrano {

// c with a-z as A-Z: the case folding of the comparisons that ignore case
// (names are bytes; only ASCII letters have a case here).
inline char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace veldrano
