#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/read_only_file.h"

namespace veldrano::platform {

// A read-only view of part of a file, unmapped when the object goes.
class MappedView {
 public:
  MappedView() = default;
  // Maps length bytes from offset (a multiple of the page size). On failure
  // the view is invalid and error holds errno.
  MappedView(int fd, std::uint64_t offset, std::size_t length, int& error);
  ~MappedView();
  MappedView(MappedView&& other) noexcept;
  MappedView& operator=(MappedView&& other) noexcept;
  MappedView(const MappedView&) = delete;
  MappedView& operator=(const MappedView&) = delete;

  bool IsValid() const { return data_ != nullptr; }
  const unsigned char* Data() const { return data_; }
  std::size_t Length() const { return length_; }

 private:
  void Release();

  const unsigned char* data_ = nullptr;
  std::size_t length_ = 0;
};

// The read-only mapping of a whole open file, handing out one view at a time.
//
// Linux has no mapping object of its own, so creating one maps the first
// view: a file that cannot be mapped at all (its file system does not support
// it) fails here, and the first MapView hands that view over instead of
// mapping it again.
class FileMapping {
 public:
  FileMapping(const ReadOnlyFile& file, std::size_t firstViewLength);

  bool IsValid() const { return first_.IsValid() || handedFirst_; }
  int Error() const { return error_; }
  MappedView MapView(std::uint64_t offset, std::size_t length, int& error);

 private:
  int fd_;
  int error_ = 0;
  MappedView first_;
  bool handedFirst_ = false;
};

}  // namespace veldrano::platform
