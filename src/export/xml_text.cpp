#include "export/xml_text.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace veldrano {

namespace {

// Windows-1252 bytes 0x80-0x9F as code points; the rest of its upper half
// is Latin-1, the code point equal to the byte.
constexpr std::array<char16_t, 32> kWindows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Length of the valid UTF-8 sequence of a non-ASCII character at the start
// of bytes, or 0. Valid means shortest form, no surrogate, at most U+10FFFF;
// U+FFFE and U+FFFF count as invalid as XML refuses them.
std::size_t Utf8SequenceLength(std::string_view bytes) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
  const auto continuation = [&](std::size_t i) { return i < bytes.size() && (byte(i) & 0xC0) == 0x80; };
  const std::uint8_t lead = byte(0);
  std::size_t length = 0;
  char32_t c = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    c = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    c = lead & 0x07;
  } else {
    return 0;  // a continuation byte, an overlong lead (C0, C1) or beyond U+10FFFF (F5-FF)
  }
  for (std::size_t i = 1; i < length; ++i) {
    if (!continuation(i)) return 0;
    c = (c << 6) | (byte(i) & 0x3F);
  }
  const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < smallest[length] || c > 0x10FFFF) return 0;
  if (c >= 0xD800 && c <= 0xDFFF) return 0;
  if (c == 0xFFFE || c == 0xFFFF) return 0;
  return length;
}

}  // namespace

std::string XmlCharacterData(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto b = static_cast<std::uint8_t>(bytes[i]);
    if (b < 0x80) {
      switch (b) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '\t': out += "&#9;"; break;
        case '\n': out += "&#10;"; break;
        case '\r': out += "&#13;"; break;
        case 0x7F: AppendUtf8(out, 0x2421); break;
        default:
          if (b < 0x20) {
            AppendUtf8(out, 0x2400 + b);
          } else {
            out += static_cast<char>(b);
          }
      }
      ++i;
      continue;
    }
    if (const std::size_t length = Utf8SequenceLength(bytes.substr(i))) {
      out.append(bytes.substr(i, length));
      i += length;
      continue;
    }
    AppendUtf8(out, b < 0xA0 ? kWindows1252High[b - 0x80] : char32_t{b});
    ++i;
  }
  return out;
}

}  // namespace veldrano
