#pragma once
#include <QDialog>

#include "scan/scan_filters.h"

class QCheckBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;

namespace veldrano {

// Tools -> Options...: what the scan leaves out. Sizes as users write them
// (10k, 4M, 1G), folders and files by pattern (one a line: a shell pattern
// on the name, or on the path when it holds a "/"; regular expressions on
// request), presets for the usual folders, hidden files, other file
// systems. Anything that cannot be used is named, and holds OK back. Then
// whether the hashes of files are kept across scans, with where and how
// many.
class OptionsDialog : public QDialog {
  Q_OBJECT

 public:
  explicit OptionsDialog(const ScanFilters& start, bool useHashCache, QWidget* parent = nullptr);

  // The filters as the dialog stands (meaningful while Problem is empty).
  ScanFilters Chosen() const;
  // Whether scans are to keep and reuse hashes.
  bool HashCacheChosen() const;

  QLineEdit* MinSize;
  QLineEdit* MaxSize;
  QCheckBox* VersionControl;
  QCheckBox* NodeModules;
  QCheckBox* Caches;
  QPlainTextEdit* ExcludedFolders;
  QPlainTextEdit* ExcludedFiles;
  QCheckBox* RegexMode;
  QCheckBox* SkipHidden;
  QCheckBox* OneFileSystem;
  QCheckBox* UseHashCache;
  QLabel* CacheLimit;  // the cache's folder and bounds
  QLabel* Problem;     // in red: what cannot be used
  QDialogButtonBox* Buttons;

 private:
  // Reads the fields; problem gets what cannot be used.
  ScanFilters Read(std::string& problem) const;
  void Check();
};

}  // namespace veldrano
