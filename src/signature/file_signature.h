#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "platform/read_only_file.h"
#include "signature/file_parts.h"
#include "signature/md5.h"

namespace veldrano {

// The MD5 of a file's whole contents as 32 upper-case hexadecimal digits,
// or none when its contents could not be read whole: a file that cannot be
// opened or read gets the warning "Can not open this file", one that does
// not hold exactly size bytes, or changes while it is read, the warning
// "File changed during the scan". A file of which only part could be read
// is never given a signature: it would match files it does not equal. The
// size a file reports is not always what it holds (the files of /proc and
// /sys report 0 or one page, whatever they hold): a file is read whole only
// once a read at its size finds its end.
std::optional<std::string> ComputeFileSignature(const std::string& path, std::int64_t size);

// The same for a file opened already (path names it in the log). cached,
// when given, tells whether its first bytes were in memory already.
std::optional<std::string> ComputeFileSignature(const platform::ReadOnlyFile& file, const std::string& path,
                                                std::int64_t size, bool* cached = nullptr);

// Files are read, and their reading shown, in blocks of this size.
inline constexpr std::uint64_t HashBlockBytes = 65536;

// Feeds the size bytes of the open file into context, in blocks of
// HashBlockBytes; beforeBlock(bytes read so far) comes before each (false
// drops the file). Whole only when the file holds exactly size bytes (its
// end found by a read at size), all could be read, and it did not change
// meanwhile. cached, when given, tells
// whether the first block was in memory already. Nothing is logged: the
// scan's own reading and the hashing ahead of it both read this way.
WholeRead ReadWhole(const platform::ReadOnlyFile& file, std::int64_t size, TMD5Context& context,
                    const std::function<bool(std::uint64_t)>& beforeBlock, bool* cached = nullptr);

// The same read, a block at a time, for a reader that interleaves it with
// another: Next() until it gives none, then Finish().
class WholeReader {
 public:
  WholeReader(const platform::ReadOnlyFile& file, std::int64_t size, bool* cached = nullptr);
  // Bytes read so far.
  std::uint64_t Done() const { return read_.Read; }
  // Whether blocks are left to read (none after a failure).
  bool More() const { return !failed_ && read_.Read < total_; }
  // The next block; empty when it could not be read (Finish tells why).
  std::span<const unsigned char> Next();
  // How the read ended, once More() is false (or to drop it: Dropped).
  WholeRead Finish(bool dropped = false);

 private:
  const platform::ReadOnlyFile& file_;
  std::uint64_t total_;
  bool* cached_;
  WholeRead read_;
  bool failed_ = false;
  std::unique_ptr<unsigned char[]> buffer_;
};

// Reads on with reader to the end of its file, as ReadWhole does from the
// start (a read begun elsewhere, its blocks so far folded into context).
WholeRead ReadOn(WholeReader& reader, TMD5Context& context, const std::function<bool(std::uint64_t)>& beforeBlock);

// Hashes the part of step (Prefix or Suffix) of the open file into hashes,
// showing its reading as HashFileThroughViews does. False, with the failure
// logged as a whole read would log it, when the part could not be read.
bool HashPartThroughViews(const platform::ReadOnlyFile& file, const std::string& path, std::int64_t size, HashStep step,
                          FileHashes& hashes, bool* cached = nullptr);
// Logs why a read that ended as how did not give the file's hashes; true
// (nothing logged) when it ended whole.
bool LogUnreadable(const platform::ReadOnlyFile& file, const std::string& path, std::int64_t size,
                   WholeRead::Ending how, int error, std::uint64_t read);

// The signature of a file hashed elsewhere, after the progress that its
// reading here would have shown.
std::string SignatureShownAsRead(const MD5Digest& digest, std::int64_t size);

// Feeds every byte of the open file, in order, into the MD5 context, in
// reads of 64 KiB. Before each it moves the per-file progress bar and lets
// the window handle its events. False, with the failure logged, when the
// file could not be read whole.
bool HashFileThroughViews(const platform::ReadOnlyFile& file, const std::string& path, std::int64_t size,
                          bool* cached = nullptr);

// The digest of the MD5 context as 32 upper-case hexadecimal digits.
std::string DigestToText();
std::string DigestToText(const MD5Digest& digest);

// Before a block of a file is hashed: the per-file progress bar shows the
// share done, and the window handles its events.
void ShowHashProgress(std::uint64_t done, std::uint64_t total);

// Logs the warning for a file that is not as it was listed or read, saying
// how in the comment.
void LogFileChanged(const std::string& path, const std::string& how);
// The comment of a name that leads to a link where the listing saw a file
// or a folder.
inline constexpr const char* ReplacedByLinkText = "Replaced by a link since it was listed";
// "Listed with listedSize bytes, now size bytes".
std::string SizeChange(std::int64_t listedSize, std::int64_t size);

}  // namespace veldrano
