#pragma once
#include <optional>
#include <string>
#include <vector>

namespace veldrano {

// An entry file of the size-keyed store: text lines, each ending in CR LF.

// The lines of an entry file, or none when it does not exist (or a level of
// its directory is not a directory). Other failures throw std::runtime_error.
std::optional<std::vector<std::string>> LoadEntryFile(const std::string& path);

// Writes lines, replacing the file's contents. When the file cannot be
// created because its directory is missing (or a level of it is still an
// entry file), gives false with the errno left in error; every other failure
// throws std::runtime_error.
bool WriteEntryFile(const std::string& path, const std::vector<std::string>& lines, int& error);

// The same, throwing on every failure.
void WriteEntryFile(const std::string& path, const std::vector<std::string>& lines);

}  // namespace veldrano
