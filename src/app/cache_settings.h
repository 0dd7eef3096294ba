#pragma once

namespace veldrano {

// Whether scans keep and reuse the hashes of files in the user's cache
// (Tools -> Options...), kept with the rest of the window's settings; on
// unless the user turned it off.
bool LoadUseHashCache();
void SaveUseHashCache(bool use);

}  // namespace veldrano
