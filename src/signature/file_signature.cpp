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

// Beyond this, the system is told the file will be read from start to end,
// so that it reads further ahead.
constexpr std::int64_t SequentialHintBytes = static_cast<std::int64_t>(4 * HashBlockBytes);

void LogCannotOpen(const std::string& path, int error) {
  AddLogEntry(LogWarning, "Can not open this file", path, SystemErrorText(error));
}

}  // namespace

bool LogUnreadable(const platform::ReadOnlyFile& file, const std::string& path, std::int64_t size,
                   WholeRead::Ending how, int error, std::uint64_t read) {
  using Ending = WholeRead::Ending;
  const auto total = static_cast<std::uint64_t>(size);
  switch (how) {
    case Ending::Whole: return true;
    case Ending::SizeDiffers: LogFileChanged(path, SizeChange(size, static_cast<std::int64_t>(file.Size()))); break;
    case Ending::ReadFailed: LogCannotOpen(path, error); break;
    case Ending::EndedEarly:
      LogFileChanged(path, "Ended after " + std::to_string(read) + " of its " + std::to_string(total) + " bytes");
      break;
    case Ending::Longer: LogFileChanged(path, "More than its listed " + std::to_string(total) + " bytes"); break;
    case Ending::Modified: LogFileChanged(path, "Modified while it was being read"); break;
    case Ending::Dropped: break;
  }
  return false;
}

void LogFileChanged(const std::string& path, const std::string& how) {
  AddLogEntry(LogWarning, "File changed during the scan", path, how);
}

std::string SizeChange(std::int64_t listedSize, std::int64_t size) {
  return "Listed with " + std::to_string(listedSize) + " bytes, now " + std::to_string(size) + " bytes";
}

WholeReader::WholeReader(const platform::ReadOnlyFile& file, std::int64_t size, bool* cached)
    : file_(file), total_(static_cast<std::uint64_t>(std::max<std::int64_t>(size, 0))), cached_(cached) {
  if (static_cast<std::int64_t>(file.Size()) != size) {
    read_.How = WholeRead::Ending::SizeDiffers;
    failed_ = true;
    return;
  }
  if (size >= SequentialHintBytes) posix_fadvise(file.Descriptor(), 0, 0, POSIX_FADV_SEQUENTIAL);
  if (total_ > 0) buffer_.reset(new unsigned char[std::min(total_, HashBlockBytes)]);
}

std::span<const unsigned char> WholeReader::Next() {
  if (!More()) return {};
  const std::size_t wanted = static_cast<std::size_t>(std::min(total_ - read_.Read, HashBlockBytes));
  const std::size_t got = ReadNext(file_, buffer_.get(), wanted, read_.Read, cached_, read_);
  if (got == 0) {
    failed_ = true;
    return {};
  }
  read_.Read += got;
  return {buffer_.get(), got};
}

WholeRead WholeReader::Finish(bool dropped) {
  if (dropped) {
    read_.How = WholeRead::Ending::Dropped;
    return read_;
  }
  if (failed_) return read_;
  // The end, where the size says it is: one read there finds nothing.
  if (!EndsAt(file_, total_, read_)) return read_;
  if (!file_.Unchanged()) read_.How = WholeRead::Ending::Modified;
  return read_;
}

WholeRead ReadWhole(const platform::ReadOnlyFile& file, std::int64_t size, TMD5Context& context,
                    const std::function<bool(std::uint64_t)>& beforeBlock, bool* cached) {
  WholeReader reader(file, size, cached);
  return ReadOn(reader, context, beforeBlock);
}

WholeRead ReadOn(WholeReader& reader, TMD5Context& context, const std::function<bool(std::uint64_t)>& beforeBlock) {
  while (reader.More()) {
    if (!beforeBlock(reader.Done())) return reader.Finish(true);
    const std::span<const unsigned char> block = reader.Next();
    if (block.empty()) break;
    MD5Update(context, block.data(), static_cast<std::uint32_t>(block.size()));
  }
  return reader.Finish();
}

bool HashFileThroughViews(const platform::ReadOnlyFile& file, const std::string& path, std::int64_t size,
                          bool* cached) {
  const auto total = static_cast<std::uint64_t>(size);
  const WholeRead read = ReadWhole(
      file, size, MD5Context,
      [total](std::uint64_t done) {
        ShowHashProgress(done, total);
        return !WindowClosing();  // else nothing of this file will be shown: dropped
      },
      cached);
  if (read.How != WholeRead::Ending::SizeDiffers && total > 0) Display().SetFileProgress(0);
  return LogUnreadable(file, path, size, read.How, read.Error, read.Read);
}

bool HashPartThroughViews(const platform::ReadOnlyFile& file, const std::string& path, std::int64_t size, HashStep step,
                          FileHashes& hashes, bool* cached) {
  const auto total = static_cast<std::uint64_t>(size);
  ShowHashProgress(step == HashStep::Suffix ? total - std::min(total, PartBytes) : 0, total);
  if (WindowClosing()) return false;
  const WholeRead read = ReadPart(file, size, step, hashes, cached);
  if (read.How != WholeRead::Ending::SizeDiffers) Display().SetFileProgress(0);
  return LogUnreadable(file, path, size, read.How, read.Error, read.Read);
}

std::string SignatureShownAsRead(const MD5Digest& digest, std::int64_t size) {
  const auto total = static_cast<std::uint64_t>(size);
  for (std::uint64_t done = 0; done < total; done += HashBlockBytes) ShowHashProgress(done, total);
  if (total > 0) Display().SetFileProgress(0);
  return DigestToText(digest);
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
