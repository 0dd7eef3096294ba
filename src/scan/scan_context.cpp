#include "scan/scan_context.h"

namespace veldrano {

WindowPort& Window() {
  static WindowPort absent;
  return ScanContext.Window != nullptr ? *ScanContext.Window : absent;
}

}  // namespace veldrano
