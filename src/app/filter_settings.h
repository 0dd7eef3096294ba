#pragma once
#include "scan/scan_filters.h"

namespace veldrano {

// The scan's filters (Tools -> Options...), kept in the desktop's settings
// place with the rest of the window's state. Filters that cannot be read,
// or no longer pass their checks, give none.
ScanFilters LoadScanFilters();
void SaveScanFilters(const ScanFilters& filters);

}  // namespace veldrano
