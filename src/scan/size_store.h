#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace veldrano {

// The per-file step of the processing pass. Files are grouped by exact size
// in a store on disk, in the run's work directory: one entry file per size,
// listing the first file met with each content of that size with its
// signature. A file is hashed only once a second file of its size turns up.
// A file with the size and signature of an earlier one is recorded as its
// duplicate.
//
// Failures of the store itself (an entry file that cannot be read or
// written) are thrown as std::runtime_error and end the run.
void ProcessFile(const std::string& path, std::int64_t size);

// Opens the file for reading and closes it again. Empty when that worked,
// else "[" + errno + "] " + the system's text.
std::string CheckFileAccess(const std::string& path);

// root followed by sizeText cut into pieces of DigitsPerLevel digits, each
// ending in "/".
std::string BuildEntryDirectory(const std::string& root, std::string sizeText);

// The index of the line whose signature (the text before its first ";")
// equals signature, by a binary search over lines in ascending order; -1
// when there is none.
std::int64_t FindSignatureLine(const std::string& signature, const std::vector<std::string>& lines);

// The decimal digits of a size, "0" for an empty file.
std::string SizeText(std::int64_t size);

// Entry-file lines hold a path after the first ";". Line breaks and
// backslashes in it are written as \n, \r and \\ so that every line stays one
// line; these turn a path into its stored form and back.
std::string EscapeStoredPath(const std::string& path);
std::string UnescapeStoredPath(const std::string& stored);

}  // namespace veldrano
