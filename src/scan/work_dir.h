#pragma once
#include <string>

namespace veldrano {

// The system temporary directory ($TMPDIR, else /tmp) in its real form,
// ending in "/". Throws std::runtime_error when it cannot be resolved.
std::string GetTempDirectory();

// The real form of path (links and dots resolved). Throws std::runtime_error
// when it cannot be resolved.
std::string GetLongPath(const std::string& path);

// A path in the temporary directory that no directory occupies yet, ending
// in extension: a unique empty file "~XXXXXX.tmp" is created there to
// reserve the name, and the extension replaces its ".tmp". Throws
// std::runtime_error when the temporary directory takes no new file.
std::string MakeWorkDirPath(const std::string& extension);

// The reserved file behind a path made by MakeWorkDirPath.
std::string ReservedFileOf(const std::string& workDirPath, const std::string& extension);

// The file-system name of the volume that holds path; empty when unknown.
std::string GetFileSystemName(const std::string& path);

// Deletes every file below path, then the directories, path itself last,
// showing the progress: panel 1 the entries left, panel 2 the share done,
// panel 3 the file at hand, the overall bar the share left.
void ReleaseWorkDir(const std::string& path);

}  // namespace veldrano
