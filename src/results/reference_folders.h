#pragma once
#include <string_view>

namespace veldrano {

// Whether path lies in one of the reference folders
// (ScanContext.ReferenceFolders). Their files are scanned and may be the
// copy that stays, but no rule ticks them, no tick by hand holds on them,
// and no action touches them.
bool InReferenceFolder(std::string_view path);

}  // namespace veldrano
