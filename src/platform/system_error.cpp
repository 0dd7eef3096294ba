#include "platform/system_error.h"

#include <cstring>

namespace veldrano {

namespace {

// Picks the right result whichever strerror_r the C library provides.
[[maybe_unused]] const char* MessageOf(const char* gnuResult, const char* /*buffer*/) { return gnuResult; }
[[maybe_unused]] const char* MessageOf(int xsiResult, const char* buffer) {
  return xsiResult == 0 ? buffer : "Unknown error";
}

}  // namespace

std::string SystemErrorText(int code) {
  char buffer[256] = {};
  std::string text = MessageOf(strerror_r(code, buffer, sizeof buffer), buffer);
  while (!text.empty()) {
    const unsigned char last = static_cast<unsigned char>(text.back());
    if (last <= ' ' || last == '.' || last == 127) {
      text.pop_back();
    } else {
      break;
    }
  }
  return text;
}

}  // namespace veldrano
