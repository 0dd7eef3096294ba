#pragma once
#include <string>

namespace veldrano {

// The system's message for an error number (errno), without the trailing
// blanks, control characters and full stops, ready for a log comment.
std::string SystemErrorText(int code);

}  // namespace veldrano
