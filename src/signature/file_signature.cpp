#include "signature/file_signature.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "platform/fault_guard.h"
#include "platform/mapped_view.h"
#include "platform/read_only_file.h"
#include "platform/system_error.h"
#include "report/activity_log.h"
#include "report/round_half_even.h"
#include "scan/scan_context.h"
#include "signature/md5.h"

namespace veldrano {

namespace {

constexpr std::uint64_t ViewLength = 65536;

void FeedDigest(const void* data, std::size_t length) { MD5Update(data, static_cast<std::uint32_t>(length)); }

void LogCannotOpen(const std::string& path, int error) {
  AddLogEntry(LogWarning, "Can not open this file", path, SystemErrorText(error));
}

}  // namespace

void HashFileThroughViews(const std::string& path) {
  const platform::ReadOnlyFile file(path);
  if (!file.IsOpen()) return LogCannotOpen(path, file.Error());
  const std::uint64_t size = file.Size();
  if (size == 0) return;

  platform::FileMapping mapping(file, static_cast<std::size_t>(std::min(size, ViewLength)));
  if (!mapping.IsValid()) {
    AddLogEntry(LogError, "Error while creating FileMap for this file", path, SystemErrorText(mapping.Error()));
    return;
  }

  std::uint64_t offset = 0;
  std::uint64_t remaining = size;
  while (remaining > 0) {
    Window().SetProgressBar2(static_cast<int>(
        RoundHalfEven(static_cast<long double>(size - remaining) / static_cast<long double>(size) * 100)));
    Window().ProcessMessages();
    const std::uint64_t length = std::min(remaining, ViewLength);
    int error = 0;
    const platform::MappedView view = mapping.MapView(offset, static_cast<std::size_t>(length), error);
    if (!view.IsValid()) {
      AddLogEntry(LogError, "MapViewOfFile Failed for this file", path);
      break;
    }
    // The file may have been cut short since its size was taken: the pages
    // past its new end cannot be read, which is reported like a file that
    // cannot be read at all.
    if (!platform::ReadGuarded(view.Data(), view.Length(), FeedDigest)) {
      LogCannotOpen(path, EIO);
      break;
    }
    remaining -= length;
    offset += length;
  }
  Window().SetProgressBar2(0);
}

std::string DigestToText() {
  static constexpr char Digits[] = "0123456789ABCDEF";
  const MD5Digest digest = MD5Final();
  std::string text(32, '0');
  for (std::size_t i = 0; i < digest.size(); ++i) {
    text[2 * i] = Digits[digest[i] >> 4];
    text[2 * i + 1] = Digits[digest[i] & 15];
  }
  return text;
}

std::string ComputeFileSignature(const std::string& path) {
  MD5Init();
  HashFileThroughViews(path);
  return DigestToText();
}

}  // namespace veldrano
