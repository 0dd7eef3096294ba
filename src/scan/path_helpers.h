#pragma once
#include <string>
#include <string_view>

namespace veldrano {

// The path ending in the directory separator "/" (the path itself when it
// already does). The path is never empty.
std::string EnsureTrailingBackslash(std::string_view path);

// True when path names an existing directory (following links).
bool IsDirectory(const std::string& path);

// True when something exists at path: a file, a directory or anything else
// (a link counts by what it points at).
bool PathExists(const std::string& path);

}  // namespace veldrano
