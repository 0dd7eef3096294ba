#include "scan/work_dir.h"

#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "platform/directory_reader.h"
#include "platform/file_system.h"
#include "platform/system_error.h"
#include "report/formatting.h"
#include "report/round_half_even.h"
#include "scan/directory_walk.h"
#include "scan/path_helpers.h"
#include "scan/scan_context.h"

namespace veldrano {

namespace {

// The temporary directory as the environment names it.
std::string SystemTempDirectory() {
  const char* configured = std::getenv("TMPDIR");
  return EnsureTrailingBackslash(configured != nullptr && *configured != '\0' ? configured : "/tmp");
}

}  // namespace

std::string GetLongPath(const std::string& path) {
  int error = 0;
  const std::string real = platform::RealPath(path, error);
  if (real.empty()) {
    throw std::runtime_error("Can not find the directory " + path + " (" + SystemErrorText(error) + ")");
  }
  return real;
}

std::string GetTempDirectory() { return EnsureTrailingBackslash(GetLongPath(SystemTempDirectory())); }

std::string MakeWorkDirPath(const std::string& extension) {
  const std::string temp = SystemTempDirectory();
  for (;;) {
    int error = 0;
    const std::string reserved = platform::CreateUniqueFile(temp, "~", ".tmp", error);
    if (reserved.empty()) {
      throw std::runtime_error("Can not create a file in the temporary directory " + temp + " (" +
                               SystemErrorText(error) + ")");
    }
    const std::string candidate = reserved.substr(0, reserved.rfind('.')) + extension;
    if (!IsDirectory(candidate)) return candidate;
    unlink(reserved.c_str());  // taken: let its reservation go and try another name
  }
}

std::string ReservedFileOf(const std::string& workDirPath, const std::string& extension) {
  if (workDirPath.size() < extension.size()) return {};
  return workDirPath.substr(0, workDirPath.size() - extension.size()) + ".tmp";
}

std::string GetFileSystemName(const std::string& path) { return platform::FileSystemNameOf(path); }

void ReleaseWorkDir(const std::string& path) {
  platform::DirectoryReader reader(path);
  if (!reader.IsOpen()) return;
  int stepError = 0;
  const std::vector<platform::DirectoryEntry> entries = reader.ReadAll(stepError);
  const std::string directory = EnsureTrailingBackslash(path);
  for (const platform::DirectoryEntry& entry : entries) {
    Window().ProcessMessages();
    if (entry.Kind == platform::DirectoryEntry::Type::Directory) {
      ReleaseWorkDir(directory + entry.Name);
    } else {
      ShowStatus(1, FormatCount(' ', ScanContext.ReleaseRemaining));
      if (ScanContext.StoreEntries != 0) {
        const auto done = RoundHalfEven(100 - ScanContext.ReleaseRemaining / ScanContext.StoreEntries * 100);
        ShowStatus(2, std::to_string(done) + " %");
      }
      ScanContext.LastOperation = "Releasing: " + entry.Name;
      ShowStatus(3, "Releasing: " + entry.Name);
      unlink((directory + entry.Name).c_str());
      ScanContext.ReleaseRemaining -= 1;
    }
    if (ScanContext.StoredFiles > 0 && ScanContext.StoreEntries != 0) {
      Window().SetProgressBar1(
          static_cast<int>(RoundHalfEven(ScanContext.ReleaseRemaining / ScanContext.StoreEntries * 100)));
    }
  }
  rmdir(path.c_str());
}

}  // namespace veldrano
