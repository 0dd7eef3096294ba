#include "signature/file_signature.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "platform/system_error.h"
#include "report/activity_log.h"
#include "report/round_half_even.h"
#include "scan/window_access.h"
#include "signature/md5.h"

namespace veldrano {

namespace {

constexpr std::uint64_t ViewLength = 65536;
// Beyond this, the system is told the file will be read from start to end,
// so that it reads further ahead.
constexpr std::int64_t SequentialHintBytes = 4 * ViewLength;

void LogCannotOpen(const std::string& path, int error) {
  AddLogEntry(LogWarning, "Can not open this file", path, SystemErrorText(error));
}

}  // namespace

void LogFileChanged(const std::string& path, const std::string& how) {
  AddLogEntry(LogWarning, "File changed during the scan", path, how);
}

std::string SizeChange(std::int64_t listedSize, std::int64_t size) {
  return "Listed with " + std::to_string(listedSize) + " bytes, now " + std::to_string(size) + " bytes";
}

bool HashFileThroughViews(const platform::ReadOnlyFile& file, const std::string& path, std::int64_t size,
                          bool* cached) {
  const auto actual = static_cast<std::int64_t>(file.Size());
  if (actual != size) {
    LogFileChanged(path, SizeChange(size, actual));
    return false;
  }
  if (size >= SequentialHintBytes) posix_fadvise(file.Descriptor(), 0, 0, POSIX_FADV_SEQUENTIAL);
  const auto total = static_cast<std::uint64_t>(size);
  const std::unique_ptr<unsigned char[]> buffer(total > 0 ? new unsigned char[std::min(total, ViewLength)] : nullptr);
  bool whole = true;
  std::uint64_t offset = 0;
  while (offset < total) {
    ShowHashProgress(offset, total);
    if (WindowClosing()) {  // nothing of this file will be shown: dropped
      whole = false;
      break;
    }
    const std::size_t wanted = static_cast<std::size_t>(std::min(total - offset, ViewLength));
    const ssize_t got = offset == 0 && cached != nullptr ? file.ReadAt(buffer.get(), wanted, offset, *cached)
                                                         : file.ReadAt(buffer.get(), wanted, offset);
    if (got < 0) {
      LogCannotOpen(path, errno);
      whole = false;
      break;
    }
    if (got == 0) {  // cut short since it was opened
      LogFileChanged(path, "Ended after " + std::to_string(offset) + " of its " + std::to_string(total) + " bytes");
      whole = false;
      break;
    }
    MD5Update(buffer.get(), static_cast<std::uint32_t>(got));
    offset += static_cast<std::uint64_t>(got);
  }
  if (total > 0) Display().SetFileProgress(0);
  if (whole && !file.Unchanged()) {
    LogFileChanged(path, "Modified while it was being read");
    whole = false;
  }
  return whole;
}

void ShowHashProgress(std::uint64_t done, std::uint64_t total) {
  Display().SetFileProgress(
      static_cast<int>(RoundHalfEven(static_cast<long double>(done) / static_cast<long double>(total) * 100)));
  ProcessMessages();
}

std::string DigestToText() { return DigestToText(MD5Final()); }

std::string DigestToText(const MD5Digest& digest) {
  static constexpr char Digits[] = "0123456789ABCDEF";
  std::string text(32, '0');
  for (std::size_t i = 0; i < digest.size(); ++i) {
    text[2 * i] = Digits[digest[i] >> 4];
    text[2 * i + 1] = Digits[digest[i] & 15];
  }
  return text;
}

std::optional<std::string> ComputeFileSignature(const platform::ReadOnlyFile& file, const std::string& path,
                                                std::int64_t size, bool* cached) {
  MD5Init();
  if (!HashFileThroughViews(file, path, size, cached)) return std::nullopt;
  return DigestToText();
}

std::optional<std::string> ComputeFileSignature(const std::string& path, std::int64_t size) {
  const platform::ReadOnlyFile file(path);
  if (!file.IsOpen()) {
    LogCannotOpen(path, file.Error());
    return std::nullopt;
  }
  return ComputeFileSignature(file, path, size);
}

}  // namespace veldrano
