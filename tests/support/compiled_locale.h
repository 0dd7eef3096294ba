#pragma once
#include <cstdlib>
#include <string>

#include "support/temp_dir.h"

namespace veldrano::testing {

// Builds a locale from the C library's sources into a scratch directory and
// points LOCPATH there, so tests need no locale installed on the machine.
// Available() is false where localedef or the sources are missing.
class CompiledLocale {
 public:
  // name like "de_DE": compiled as name + ".UTF-8".
  explicit CompiledLocale(const std::string& name) : name_(name + ".UTF-8") {
    const std::string command = "localedef -i " + name + " -f UTF-8 '" + (dir_ / name_) + "' >/dev/null 2>&1";
    available_ = std::system(command.c_str()) == 0;
    if (available_) setenv("LOCPATH", dir_.Path().c_str(), 1);
  }
  ~CompiledLocale() { unsetenv("LOCPATH"); }
  CompiledLocale(const CompiledLocale&) = delete;
  CompiledLocale& operator=(const CompiledLocale&) = delete;

  bool Available() const { return available_; }
  const char* Name() const { return name_.c_str(); }

 private:
  TempDir dir_;
  std::string name_;
  bool available_ = false;
};

}  // namespace veldrano::testing
