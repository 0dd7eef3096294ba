#include "results/reference_folders.h"

#include <algorithm>

#include "scan/scan_context.h"

namespace veldrano {

bool InReferenceFolder(std::string_view path) {
  return std::ranges::any_of(ScanContext.ReferenceFolders,
                             [path](const std::string& folder) { return path.starts_with(folder); });
}

}  // namespace veldrano
