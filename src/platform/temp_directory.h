#pragma once
#include <cstdlib>
#include <string>

namespace veldrano::platform {

// The system temporary directory as the environment names it: $TMPDIR, else
// /tmp.
inline std::string TempDirectoryName() {
  const char* configured = std::getenv("TMPDIR");
  return configured != nullptr && *configured != '\0' ? configured : "/tmp";
}

}  // namespace veldrano::platform
