#include "scan/work_dir.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "platform/directory_reader.h"
#include "platform/file_system.h"
#include "platform/private_directory.h"
#include "platform/system_error.h"
#include "platform/temp_directory.h"
#include "report/formatting.h"
#include "report/round_half_even.h"
#include "scan/directory_walk.h"
#include "scan/path_helpers.h"
#include "scan/scan_context.h"
#include "scan/size_store.h"
#include "scan/window_access.h"

namespace veldrano {

namespace {

constexpr std::string_view WorkDirSuffix = ".~vesk";
constexpr std::string_view ReservedSuffix = ".tmp";
constexpr int MaxNameAttempts = 100;

// The temporary directory as the environment names it.
std::string SystemTempDirectory() { return EnsureTrailingBackslash(platform::TempDirectoryName()); }

bool IsNameCharacter(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// "~", then at least one letter or digit, then suffix.
bool HasGeneratedForm(std::string_view name, std::string_view suffix) {
  if (name.size() < suffix.size() + 2 || name[0] != '~' || !name.ends_with(suffix)) return false;
  for (const char c : name.substr(1, name.size() - suffix.size() - 1)) {
    if (!IsNameCharacter(c)) return false;
  }
  return true;
}

// Splits "/a/b/name/" into "/a/b/" and "name".
void SplitDirectoryPath(const std::string& path, std::string& parent, std::string& name) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  const std::size_t slash = trimmed.rfind('/');
  parent = slash == std::string::npos ? "./" : trimmed.substr(0, slash + 1);
  name = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

}  // namespace

std::string GetLongPath(const std::string& path) {
  platform::Outcome<std::string> real = platform::RealPath(path);
  if (!real.Ok()) {
    throw std::runtime_error("Can not find the directory " + path + " (" + SystemErrorText(real.Error()) + ")");
  }
  return std::move(real.Value());
}

std::string GetTempDirectory() { return EnsureTrailingBackslash(GetLongPath(SystemTempDirectory())); }

bool IsWorkDirName(std::string_view name) { return HasGeneratedForm(name, WorkDirSuffix); }

bool IsReservedFileName(std::string_view name) {
  return HasGeneratedForm(name, ReservedSuffix) && name.size() == 1 + 6 + ReservedSuffix.size();
}

std::string MakeWorkDirPath(const std::string& extension) {
  const std::string temp = SystemTempDirectory();
  const platform::Outcome<platform::UniqueFd> opened = platform::OpenDirectory(temp);
  int error = opened.Error();
  const platform::UniqueFd& parent = opened.Value();
  for (int attempt = 0; opened.Ok() && attempt < MaxNameAttempts; ++attempt) {
    const platform::Outcome<platform::UniqueFile> created =
        platform::CreateUniqueFile(temp, "~", std::string(ReservedSuffix));
    if (!created.Ok()) {
      error = created.Error();
      break;
    }
    const platform::UniqueFd& file = created.Value().Fd;
    const std::string& reserved = created.Value().Path;
    // Locked while it exists, so that a run starting meanwhile does not
    // take it for one a killed run left.
    flock(file.Get(), LOCK_EX);
    const std::string reservedName = reserved.substr(reserved.rfind('/') + 1);
    const std::string stem = reservedName.substr(0, reservedName.size() - ReservedSuffix.size());
    std::string dirName = stem + extension;
    while (!dirName.empty() && dirName.back() == '/') dirName.pop_back();
    struct stat taken {};
    const bool free = fstatat(parent.Get(), dirName.c_str(), &taken, AT_SYMLINK_NOFOLLOW) != 0;
    platform::RemoveFileIfSame(parent.Get(), reservedName, file.Get());
    if (free) return temp + stem + extension;
  }
  if (error == 0) error = EEXIST;
  throw std::runtime_error("Can not create a file in the temporary directory " + temp + " (" + SystemErrorText(error) +
                           ")");
}

std::uint64_t RemoveAbandonedWorkFiles(const std::string& directory) {
  const platform::Outcome<platform::UniqueFd> opened = platform::OpenDirectory(directory);
  if (!opened.Ok()) return 0;
  const platform::UniqueFd& parent = opened.Value();
  platform::DirectoryReader reader(directory);
  std::uint64_t removed = 0;
  const platform::DirectoryReader::Listing listing = reader.ReadAll();
  for (const platform::DirectoryEntry& entry : listing.Entries) {
    const bool workDir = IsWorkDirName(entry.Name);
    if (!workDir && !IsReservedFileName(entry.Name)) continue;
    const platform::Abandoned found = platform::LockAbandoned(parent.Get(), entry.Name);
    if (workDir && found.Kind == platform::Abandoned::Kind::Directory) {
      removed += platform::EmptyDirectory(found.Fd.Get());
      if (platform::RemoveDirectoryIfSame(parent.Get(), entry.Name, found.Fd.Get())) ++removed;
    } else if (!workDir && found.Kind == platform::Abandoned::Kind::File) {
      if (platform::RemoveFileIfSame(parent.Get(), entry.Name, found.Fd.Get())) ++removed;
    }
  }
  return removed;
}

std::string GetFileSystemName(const std::string& path) { return platform::FileSystemNameOf(path); }

WorkDir::WorkDir(std::string path) : path_(std::move(path)) {}

int WorkDir::Descriptor() {
  if (directory_.IsOpen()) return directory_.Get();
  std::string parentPath, name;
  SplitDirectoryPath(path_, parentPath, name);
  int error = 0;
  if (!parent_.IsOpen()) {
    platform::Outcome<platform::UniqueFd> opened = platform::OpenDirectory(parentPath);
    error = opened.Error();
    parent_ = std::move(opened.Value());
  }
  for (int attempt = 0; parent_.IsOpen() && attempt < MaxNameAttempts; ++attempt) {
    platform::Outcome<platform::UniqueFd> created = platform::CreatePrivateDirectory(parent_.Get(), name);
    error = created.Error();
    if (created.Ok()) {
      directory_ = std::move(created.Value());
      return directory_.Get();
    }
    if (error != EEXIST) break;
    // Taken since the name was chosen (by anything: a file, a link, another
    // run's directory): pick another.
    path_ = MakeWorkDirPath(std::string(WorkDirSuffix) + "/");
    SplitDirectoryPath(path_, parentPath, name);
  }
  throw std::runtime_error("Can not create the work directory " + path_ + " (" + SystemErrorText(error) + ")");
}

void WorkDir::Remove() {
  if (!directory_.IsOpen()) return;
  std::string parentPath, name;
  SplitDirectoryPath(path_, parentPath, name);
  platform::EmptyDirectory(directory_.Get());
  platform::RemoveDirectoryIfSame(parent_.Get(), name, directory_.Get());
  directory_.Reset();
}

void ReleaseWorkDir(SizeStore& store) {
  TScanContext& ctx = ScanContext;
  store.ForEachEntry([&ctx](std::int64_t size) {
    ProcessMessages();
    ShowStatus(1, FormatCount(' ', ctx.ReleaseRemaining));
    if (ctx.StoreEntries != 0) {
      const auto done = RoundHalfEven(100 - ctx.ReleaseRemaining / ctx.StoreEntries * 100);
      ShowStatus(2, std::to_string(done) + " %");
    }
    const std::string name = SizeText(size);
    ctx.LastOperation = "Releasing: " + name;
    ShowStatus(3, "Releasing: " + name);
    ctx.ReleaseRemaining -= 1;
    if (ctx.StoredFiles > 0 && ctx.StoreEntries != 0) {
      Display().SetOverallProgress(static_cast<int>(RoundHalfEven(ctx.ReleaseRemaining / ctx.StoreEntries * 100)));
    }
  });
  store.RemoveFromDisk();
}

}  // namespace veldrano
