#pragma once
#include <string>
#include <string_view>

namespace veldrano {

// Writes the results tree to the file at path as a UTF-8 XML document: root
// element Vesk, one element per signature group, one Filename element per
// file. Sets Busy while it works and lets the window handle its events before
// every group and file. Paths are written as XmlCharacterData gives them.
// The file at path is replaced only once it is written whole (ExportFile).
// A failure to create, write or close the file, or a path that is no
// regular file, is logged as the error "Can not export to XML file" and
// gives false; path keeps what it held. True when the whole document is
// written.
bool ExportResult2XML(const std::string& path);

// The XML element name for a group caption: every character that is not an
// ASCII letter, digit or "_" becomes "_", and a name that would begin with
// "xml", "XML" or anything but a letter gets "_" in front. Works on bytes:
// each byte of a multi-byte character becomes one "_". The empty text gives
// "_".
std::string XMLElementName(std::string_view text);

}  // namespace veldrano
