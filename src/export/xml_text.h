#pragma once
#include <string>
#include <string_view>

namespace veldrano {

// A file name (any bytes) as the character data of an XML 1.0 element in a
// UTF-8 document: the result is always valid UTF-8 and always well formed,
// and shows every byte of the name in some visible form.
//
// - "&", "<" and ">" become "&amp;", "&lt;" and "&gt;".
// - Valid UTF-8 sequences are kept as they are.
// - A byte that does not begin a valid UTF-8 sequence is read as a
//   Windows-1252 character, the 8-bit set names were written in before
//   UTF-8; the five bytes that set leaves undefined (0x81, 0x8D, 0x8F,
//   0x90, 0x9D) stand for U+0081.. as in Latin-1. The same applies to the
//   bytes of U+FFFE and U+FFFF, which XML does not allow.
// - TAB, LF and CR become "&#9;", "&#10;" and "&#13;": a parser hands
//   references back unchanged, where it would normalise them written as such.
// - The other control characters (0x00-0x1F, 0x7F), which XML 1.0 cannot
//   carry at all, become the control pictures U+2400-U+241F and U+2421.
std::string XmlCharacterData(std::string_view bytes);

}  // namespace veldrano
