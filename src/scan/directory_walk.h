#pragma once
#include <string>
#include <string_view>

namespace veldrano {

// Walks one directory tree depth first, entries of each directory in name
// order. The counting pass counts the files and adds up their sizes; the
// processing pass hands every file to ProcessFile and keeps the progress
// bar, the status bar and the time left up to date. Before every entry it
// lets the window handle its events and stops when Stop was pressed.
//
// Only regular files are files; symbolic links, FIFOs, sockets and devices
// are passed over, and links are not followed: the directory listed is
// opened by its name (a link the user chose is followed), every directory
// and file below it inside the directory that listed it, and only while it
// is still what the listing showed (else it is left out as changed). The
// work directories in the temporary directory are not entered, nor Trash
// folders (counted in TrashFoldersLeftOut by the processing pass): the
// user's home Trash, and ".Trash" or ".Trash-<uid>" at the top of a file
// system; a listed directory in a Trash is left out whole. In the
// processing pass, a directory reached a second time (listed twice through
// a link, or mounted twice) is walked, but its files are known as met
// before.
//
// The filters of the run (ScanContext.ActiveFilters) act the same in both
// passes: a folder they leave out is not opened at all, nor a file system
// mounted inside the tree when the walk stays on one; a file they leave out
// is neither counted nor processed. The processing pass counts what they
// left out (FilesFilteredOut, BytesFilteredOut, FoldersFilteredOut).
void ScanDirectory(const std::string& path, bool countingPass);

// Finds, once at the start of a run, the folders the walks know by their
// identity: the temporary directory (ScanContext.TempDirLower) and the
// user's home Trash; and lets the walks hold one directory open per level
// however deep a tree goes.
void PrepareWalks();

// Shows text in status panel slot (0..3) unless that panel was written less
// than 500 ms ago, in which case the text is dropped.
inline constexpr long double StatusEveryMilliseconds = 500;
void ShowStatus(int slot, std::string_view text);
// Whether ShowStatus(slot, ...) would show its text now.
bool StatusDue(int slot);
// ShowStatus(slot, makeText()), with the text made only when it is shown.
template <typename MakeText>
void ShowStatusWhenDue(int slot, MakeText makeText) {
  if (StatusDue(slot)) ShowStatus(slot, makeText());
}

}  // namespace veldrano
