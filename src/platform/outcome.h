#pragma once
#include <utility>

namespace veldrano::platform {

// What a call to the system that can fail gives: its value, or the errno of
// the failure. Objects that own what they opened (ReadOnlyFile,
// DirectoryReader) say the same with IsOpen() and Error().
template <typename T>
class Outcome {
 public:
  Outcome(T value) : value_(std::move(value)) {}  // NOLINT: a value is a success
  static Outcome Failure(int error) {
    Outcome failed{T{}};
    failed.error_ = error != 0 ? error : -1;
    return failed;
  }

  bool Ok() const { return error_ == 0; }
  // errno of the failure; 0 on success.
  int Error() const { return error_; }
  T& Value() { return value_; }
  const T& Value() const { return value_; }

 private:
  T value_;
  int error_ = 0;
};

}  // namespace veldrano::platform
