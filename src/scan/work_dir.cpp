#include "scan/work_dir.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "platform/file_system.h"
#include "platform/private_directory.h"
#include "platform/system_error.h"
#include "platform/temp_directory.h"
#include "report/formatting.h"
#include "report/round_half_even.h"
#include "scan/directory_walk.h"
#include "scan/disk_table.h"
#include "scan/path_helpers.h"
#include "scan/scan_context.h"
#include "scan/size_store.h"
#include "scan/window_access.h"

namespace veldrano {

namespace {

constexpr std::string_view WorkDirSuffix = ".~vesk";
constexpr std::string_view ReservedSuffix = ".tmp";
constexpr std::size_t GeneratedLength = 6;  // the random part of both names
constexpr int MaxNameAttempts = 100;
// What a reservation holds, so that a killed run's is known for ours.
constexpr std::string_view ReservationLine = "Veldrano: this name is reserved for a work directory\n";

// The temporary directory as the environment names it.
std::string SystemTempDirectory() { return EnsureTrailingBackslash(platform::TempDirectoryName()); }

bool IsNameCharacter(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// "~", six letters or digits, then suffix.
bool HasGeneratedForm(std::string_view name, std::string_view suffix) {
  if (name.size() != 1 + GeneratedLength + suffix.size() || name[0] != '~' || !name.ends_with(suffix)) return false;
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

bool IsWorkDirName(std::string_view name) { return HasGeneratedForm(name, WorkDirSuffix); }

bool IsReservedFileName(std::string_view name) { return HasGeneratedForm(name, ReservedSuffix); }

std::string TempDirectoryIfAny() {
  const platform::Outcome<std::string> real = platform::RealPath(SystemTempDirectory());
  return real.Ok() ? EnsureTrailingBackslash(real.Value()) : std::string();
}

NameReservation::NameReservation(int directory, const std::string& directoryPath) : directory_(directory) {
  platform::Outcome<platform::UniqueFile> created =
      platform::CreateUniqueFile(directoryPath, "~", std::string(ReservedSuffix));
  error_ = created.Error();
  if (!created.Ok()) return;
  file_ = std::move(created.Value().Fd);
  const std::string& path = created.Value().Path;
  name_ = path.substr(path.rfind('/') + 1);
  // Locked while it exists, so that a run starting meanwhile does not take
  // it for one a killed run left; the line tells a killed run's from a file
  // of someone else's.
  flock(file_.Get(), LOCK_EX);
  (void)!write(file_.Get(), ReservationLine.data(), ReservationLine.size());
}

NameReservation::~NameReservation() {
  if (file_.IsOpen()) platform::RemoveFileIfSame(directory_, name_, file_.Get());
}

std::string NameReservation::Stem() const { return name_.substr(0, name_.size() - ReservedSuffix.size()); }

std::string MakeWorkDirPath(const std::string& extension) {
  const std::string temp = SystemTempDirectory();
  const platform::Outcome<platform::UniqueFd> opened = platform::OpenDirectory(temp);
  int error = opened.Error();
  const platform::UniqueFd& parent = opened.Value();
  for (int attempt = 0; opened.Ok() && attempt < MaxNameAttempts; ++attempt) {
    const NameReservation reservation(parent.Get(), temp);
    if (!reservation.IsOpen()) {
      error = reservation.Error();
      break;
    }
    std::string dirName = reservation.Stem() + extension;
    while (!dirName.empty() && dirName.back() == '/') dirName.pop_back();
    struct stat taken {};
    if (fstatat(parent.Get(), dirName.c_str(), &taken, AT_SYMLINK_NOFOLLOW) != 0) {
      return temp + reservation.Stem() + extension;
    }
  }
  if (error == 0) error = EEXIST;
  throw std::runtime_error("Can not create a file in the temporary directory " + temp + " (" + SystemErrorText(error) +
                           ")");
}

namespace {

// Whether the directory open as fd is a store a run of ours left: mode
// 0700, and nothing in it but files of the store; names gets those files.
bool IsAbandonedStore(int fd, std::vector<std::string>& names) {
  struct stat status {};
  if (fstat(fd, &status) != 0 || (status.st_mode & 07777) != 0700 || !platform::NamesIn(fd, names)) return false;
  for (const std::string& name : names) {
    if (!IsStoreFileName(name) || !platform::FileBeginsWith(fd, name, StoreFileHeader())) return false;
  }
  return true;
}

}  // namespace

bool IsOurWorkDir(int parent, const std::string& name) {
  if (!IsWorkDirName(name)) return false;
  const platform::UniqueFd folder(openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat status {};
  std::vector<std::string> names;
  return folder.IsOpen() && fstat(folder.Get(), &status) == 0 && status.st_uid == geteuid() &&
         IsAbandonedStore(folder.Get(), names);
}

std::uint64_t RemoveAbandonedWorkFiles(const std::string& directory) {
  const platform::Outcome<platform::UniqueFd> opened = platform::OpenDirectory(directory);
  if (!opened.Ok()) return 0;
  const platform::UniqueFd& parent = opened.Value();
  std::vector<std::string> names;
  platform::NamesIn(parent.Get(), names);
  std::uint64_t removed = 0;
  for (const std::string& name : names) {
    const bool workDir = IsWorkDirName(name);
    if (!workDir && !IsReservedFileName(name)) continue;
    const platform::Abandoned found = platform::LockAbandoned(parent.Get(), name);
    std::vector<std::string> storeFiles;
    if (workDir && found.Kind == platform::Abandoned::Kind::Directory && IsAbandonedStore(found.Fd.Get(), storeFiles)) {
      for (const std::string& file : storeFiles) {
        if (unlinkat(found.Fd.Get(), file.c_str(), 0) == 0) ++removed;
      }
      if (platform::RemoveDirectoryIfSame(parent.Get(), name, found.Fd.Get())) ++removed;
    } else if (!workDir && found.Kind == platform::Abandoned::Kind::File &&
               platform::FileHolds(found.Fd.Get(), ReservationLine)) {
      if (platform::RemoveFileIfSame(parent.Get(), name, found.Fd.Get())) ++removed;
    }
  }
  return removed;
}

std::string GetFileSystemName(const std::string& path) { return platform::FileSystemNameOf(path); }

WorkDir::WorkDir(std::string path) : path_(std::move(path)) {}

int WorkDir::Descriptor() {
  if (directory_.IsOpen()) return directory_.Get();
  if (path_.empty()) path_ = MakeWorkDirPath(std::string(WorkDirSuffix) + "/");
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
