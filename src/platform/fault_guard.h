#pragma once
#include <cstddef>

namespace veldrano::platform {

// Runs read(data, length) over memory of a file mapping and returns false
// instead of dying when the memory cannot be read.
//
// Linux raises SIGBUS when a mapped page has no file data behind it any more:
// the file was truncated after it was mapped, or the medium failed. A handler
// installed on first use jumps back here when the fault lies inside
// [data, data + length) of the read under way on this thread; any other
// SIGBUS goes on to the handler that was there before (by default: the end of
// the process). read must not own anything that needs destroying, since a
// fault leaves it without unwinding.
bool ReadGuarded(const void* data, std::size_t length, void (*read)(const void*, std::size_t));

}  // namespace veldrano::platform
