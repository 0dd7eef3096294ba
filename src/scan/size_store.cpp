#include "scan/size_store.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <optional>
#include <stdexcept>

#include "platform/read_only_file.h"
#include "platform/system_error.h"
#include "report/activity_log.h"
#include "report/backslash_escape.h"
#include "results/results_model.h"
#include "scan/entry_cache.h"
#include "scan/entry_file.h"
#include "scan/path_helpers.h"
#include "scan/scan_context.h"
#include "signature/file_signature.h"

namespace veldrano {

namespace {

// With DigitsPerLevel digits in its size text, an entry file T/d/d has the
// path of a level directory of the sizes whose text begins with d twice
// (1234 and 12341234 with four digits per level). Whichever comes second
// must not fail: the entry file then lives inside that directory, under its
// size text followed by "~", a name no level directory or other entry file
// can have.
std::string DisplacedEntryFile(const std::string& entryFile, const std::string& sizeText) {
  return entryFile + "/" + sizeText + "~";
}

std::string EntryFilePath(const std::string& entryDir, const std::string& sizeText) {
  const std::string entryFile = entryDir + sizeText;
  if (sizeText.size() == static_cast<std::size_t>(ScanContext.DigitsPerLevel) && IsDirectory(entryFile)) {
    return DisplacedEntryFile(entryFile, sizeText);
  }
  return entryFile;
}

// Creates entryDir with every missing level; on the first entry of a run
// this also creates the work directory and its store root. An entry file
// standing where a level of the store must go is moved into the new level
// directory (see above). Failures are not reported here: writing the entry
// file then fails.
void CreateEntryDirectory(const std::string& storeRoot, const std::string& entryDir, EntryCache& cache) {
  // Deepest level first: most of the time only the last one is missing.
  std::string level = entryDir;
  while (!level.empty() && level.back() == '/') level.pop_back();
  if (level.empty() || mkdir(level.c_str(), 0700) == 0) return;
  if (errno == ENOENT || errno == ENOTDIR) {  // a level above is missing, or still an entry file
    CreateEntryDirectory(storeRoot, level.substr(0, level.rfind('/') + 1), cache);
    mkdir(level.c_str(), 0700);
    return;
  }
  if (errno != EEXIST || level.size() <= storeRoot.size()) return;  // only levels of the store itself are moved
  struct stat status {};
  if (lstat(level.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return;
  cache.WriteAndForget(level);  // its file moves
  const std::string aside = level + "~moving";
  if (rename(level.c_str(), aside.c_str()) != 0) return;
  if (mkdir(level.c_str(), 0700) == 0) {
    rename(aside.c_str(), DisplacedEntryFile(level, level.substr(level.rfind('/') + 1)).c_str());
  } else {
    rename(aside.c_str(), level.c_str());
  }
}

// The path after the first ";" of an entry line.
std::string PathOfLine(const std::string& line) {
  const std::size_t separator = line.find(';');
  return UnescapeStoredPath(separator == std::string::npos ? std::string() : line.substr(separator + 1));
}

}  // namespace

std::string SizeText(std::int64_t size) { return std::to_string(size); }

std::string EscapeStoredPath(const std::string& path) { return BackslashEscape(path, false); }

std::string UnescapeStoredPath(const std::string& stored) {
  std::string path;
  path.reserve(stored.size());
  for (std::size_t i = 0; i < stored.size(); ++i) {
    if (stored[i] == '\\' && i + 1 < stored.size()) {
      const char next = stored[++i];
      path += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    } else {
      path += stored[i];
    }
  }
  return path;
}

std::string CheckFileAccess(const std::string& path) {
  const platform::ReadOnlyFile file(path);
  if (file.IsOpen()) return {};
  std::string result = "[";
  result.append(std::to_string(file.Error())).append("] ").append(SystemErrorText(file.Error()));
  return result;
}

std::string BuildEntryDirectory(const std::string& root, std::string sizeText) {
  std::string result = root;
  const auto digits = static_cast<std::size_t>(std::max(1, ScanContext.DigitsPerLevel));
  while (!sizeText.empty()) {
    const std::size_t n = std::min(digits, sizeText.size());
    result.append(sizeText, 0, n).append("/");
    sizeText.erase(0, n);
  }
  return result;
}

std::int64_t FindSignatureLine(const std::string& signature, const std::vector<std::string>& lines) {
  if (lines.empty()) return -1;
  std::int64_t result = -1;
  std::int64_t low = 0;
  std::int64_t high = static_cast<std::int64_t>(lines.size()) - 1;
  do {
    const std::int64_t mid = (low + high) / 2;
    Window().ProcessMessages();
    const std::string& line = lines[static_cast<std::size_t>(mid)];
    const std::string_view key = std::string_view(line).substr(0, line.find(';'));
    const int order = key.compare(signature);  // byte order: digits before capitals
    if (order < 0) {
      low = mid + 1;
    } else if (order > 0) {
      high = mid - 1;
    } else {
      result = mid;
    }
  } while (low <= high && result < 0);
  return result;
}

void ProcessFile(const std::string& path, std::int64_t size) {
  TScanContext& ctx = ScanContext;
  ctx.LastOperation = "Processing file " + path;
  Window().ProcessMessages();

  const std::string access = CheckFileAccess(path);
  if (!access.empty()) {
    AddLogEntry(LogWarning, "Can not access to this file", path, access);
    return;
  }
  ctx.StoredFiles += 1;

  const std::string sizeText = SizeText(size);
  const std::string storeRoot = ctx.WorkDirPath + "T/";
  const std::string entryDir = BuildEntryDirectory(storeRoot, sizeText);
  const std::string entryFile = EntryFilePath(entryDir, sizeText);

  // Without the run's cache, every entry is read from disk and written back
  // at once.
  EntryCache passThrough(0, SIZE_MAX);
  EntryCache& cache = ctx.StoreCache ? *ctx.StoreCache : passThrough;
  std::vector<std::string>* lines = cache.Find(entryFile);
  if (lines == nullptr) {
    if (std::optional<std::vector<std::string>> loaded = LoadEntryFile(entryFile)) {
      if (loaded->empty()) throw std::runtime_error("Empty store file " + entryFile);
      cache.Hold(entryFile, std::move(*loaded));
      lines = cache.Find(entryFile);
    }
  }

  if (lines != nullptr) {
    std::vector<std::string> firstSigned;
    if (lines->size() == 1) {
      // The first file of this size has not been hashed (or only for
      // comparisons that matched): hash it now. The signed line is kept only
      // if a new content of this size is added below.
      const std::string onlyPath = PathOfLine((*lines)[0]);
      firstSigned = {ComputeFileSignature(onlyPath) + ";" + EscapeStoredPath(onlyPath)};
    }
    std::vector<std::string>& searched = firstSigned.empty() ? *lines : firstSigned;
    const std::string signature = ComputeFileSignature(path);
    const std::int64_t index = FindSignatureLine(signature, searched);
    if (index < 0) {
      std::string line = signature + ";" + EscapeStoredPath(path);
      searched.insert(std::upper_bound(searched.begin(), searched.end(), line), std::move(line));
      if (&searched != lines) *lines = std::move(searched);
      cache.Changed(entryFile);
    } else {
      RecordDuplicate(signature, path, PathOfLine(searched[static_cast<std::size_t>(index)]), size);
    }
    return;
  }

  // The first file of this size. The directories are created only when the
  // write finds them missing: most sizes share a level directory already.
  std::vector<std::string> firstLine{EscapeStoredPath(path).insert(0, 1, ';')};
  int error = 0;
  std::string written = entryFile;
  if (!WriteEntryFile(written, firstLine, error)) {
    CreateEntryDirectory(storeRoot, entryDir, cache);
    written = EntryFilePath(entryDir, sizeText);
    WriteEntryFile(written, firstLine);
  }
  cache.Hold(written, std::move(firstLine));
  ctx.StoreEntries += 1;
}

}  // namespace veldrano
