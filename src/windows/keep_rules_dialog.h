#pragma once
#include <QDialog>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/keep_rules_settings.h"

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace veldrano {

// Selection -> "Choose the copy to keep...": the ordered criteria that say
// which file of each group stays, each with its direction, and a live
// preview of what they would tick before anything changes. Files in
// reference folders always come first; ties go to the next criterion, then
// to the file found first.
class KeepRulesDialog : public QDialog {
  Q_OBJECT

 public:
  // folders: the directory list, for the criterion that ranks folders;
  // group: the group the preview names the kept file of, if any.
  KeepRulesDialog(const KeepRulesSettings& start, std::vector<std::string> folders, std::optional<std::uint32_t> group,
                  QWidget* parent = nullptr);

  // The rules as the dialog stands.
  KeepRulesSettings Chosen() const;

  QListWidget* Criteria;   // row 0: reference folders, fixed
  QPushButton* AddButton;  // its menu adds a criterion
  QPushButton* RemoveButton;
  QPushButton* UpButton;
  QPushButton* DownButton;
  QComboBox* Direction;      // of the highlighted criterion
  QLineEdit* Pattern;        // of a path criterion
  QListWidget* FolderOrder;  // of the folder criterion
  QLabel* Problem;           // why the rules cannot be used, in red
  QLabel* Preview;
  QCheckBox* AfterEveryScan;
  QDialogButtonBox* Buttons;

 private:
  // The highlighted criterion (none for the fixed first row).
  KeepCriterion* Current();
  void Add(KeepCriterion::Kind kind);
  void Move(int by);
  void ShowCurrent();
  void DirectionChosen(int index);
  void PatternEdited();
  void MoveFolder(int by);
  // The rows' texts, the problem, OK, and the preview.
  void Refresh();

  KeepRules rules_;
  std::vector<std::string> folders_;
  std::optional<std::uint32_t> group_;
  QLabel* directionLabel_;
  QLabel* patternLabel_;
  QLabel* folderLabel_;
  QWidget* folderRow_;
};

}  // namespace veldrano
