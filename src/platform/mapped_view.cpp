#include "platform/mapped_view.h"

#include <cerrno>
#include <sys/mman.h>
#include <utility>

namespace veldrano::platform {

MappedView::MappedView(int fd, std::uint64_t offset, std::size_t length, int& error) {
  if (length == 0) {
    error = EINVAL;
    return;
  }
  // MAP_POPULATE maps the whole view in one go instead of one fault per page.
  void* address = mmap(nullptr, length, PROT_READ, MAP_SHARED | MAP_POPULATE, fd,
                       static_cast<off_t>(offset));
  if (address == MAP_FAILED) {
    error = errno;
    return;
  }
  data_ = static_cast<const unsigned char*>(address);
  length_ = length;
}

MappedView::~MappedView() { Release(); }

MappedView::MappedView(MappedView&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), length_(std::exchange(other.length_, 0)) {}

MappedView& MappedView::operator=(MappedView&& other) noexcept {
  if (this != &other) {
    Release();
    data_ = std::exchange(other.data_, nullptr);
    length_ = std::exchange(other.length_, 0);
  }
  return *this;
}

void MappedView::Release() {
  if (data_ != nullptr) munmap(const_cast<unsigned char*>(data_), length_);
  data_ = nullptr;
  length_ = 0;
}

FileMapping::FileMapping(const ReadOnlyFile& file, std::size_t firstViewLength)
    : fd_(file.Descriptor()), first_(fd_, 0, firstViewLength, error_) {}

MappedView FileMapping::MapView(std::uint64_t offset, std::size_t length, int& error) {
  if (offset == 0 && !handedFirst_ && first_.Length() == length) {
    handedFirst_ = true;
    return std::move(first_);
  }
  return MappedView(fd_, offset, length, error);
}

}  // namespace veldrano::platform
