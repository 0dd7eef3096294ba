#pragma once
#include <QDialog>

#include <vector>

#include "results/ignore_list.h"

class QLabel;
class QListWidget;
class QPushButton;

namespace veldrano {

// Tools -> "Ignored...": what was marked as not duplicates, one row each,
// and a way to take rows back, after which they show again from the next
// scan on.
class IgnoredDialog : public QDialog {
  Q_OBJECT

 public:
  explicit IgnoredDialog(QWidget* parent = nullptr);

  QListWidget* Entries;
  QPushButton* TakeBack;
  QLabel* Problem;

 private:
  void Fill();
  void TakeBackSelected();

  std::vector<IgnoredEntry> entries_;
};

}  // namespace veldrano
