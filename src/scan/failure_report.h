#pragma once
#include <string_view>

namespace veldrano {

// Reports a failure that ended an operation early (one that was thrown
// rather than logged where it happened): a warning "WARNING: " + info, with
// "Last operation: " and what the run was doing, when it was doing anything.
void ReportFailure(std::string_view info);

}  // namespace veldrano
