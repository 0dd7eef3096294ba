#pragma once
#include <string>

namespace veldrano::testing {

// A fresh directory for one test, removed with everything in it at the end.
class TempDir {
 public:
  // Made in base, by default in TMPDIR (else /tmp).
  explicit TempDir(const std::string& base = "");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  // path_ + "/" + name
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  // Writes bytes into the file name inside the directory; returns its path.
  std::string Write(const std::string& name, const std::string& bytes) const;

 private:
  std::string path_;
};

}  // namespace veldrano::testing
