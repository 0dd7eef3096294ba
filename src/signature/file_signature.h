#pragma once
#include <string>

namespace veldrano {

// The MD5 of a file's whole contents as 32 upper-case hexadecimal digits.
// Never fails towards the caller: a read failure is logged, and the digest
// of what could be read (of nothing at all, when the file cannot be opened)
// is returned.
std::string ComputeFileSignature(const std::string& path);

// Feeds every byte of the file, in order, into the MD5 context, through
// read-only mapped views of 64 KiB, one at a time. Before each view it moves
// the per-file progress bar and lets the window handle its events.
void HashFileThroughViews(const std::string& path);

// The digest of the MD5 context as 32 upper-case hexadecimal digits.
std::string DigestToText();

}  // namespace veldrano
