#pragma once

namespace veldrano {

// The decimal separator of every number-to-text conversion in the process.
// It is the user's locale's until UsePointAsDecimalSeparator makes it "."
// for good (the first formatted size does, see FormatSize).
char DecimalSeparator();
void UsePointAsDecimalSeparator();

}  // namespace veldrano
