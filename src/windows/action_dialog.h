#pragma once
#include <QDialog>

#include "results/ticked_action.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace veldrano {

// The confirmation of an action on the ticked files (Action menu): what
// will happen to how many files, what it means for their paths, and what
// an undo can and cannot give back, said before anything is done; the
// action's choices (which links, which folder, removing folders left
// empty); the files and the copy each is proven against, on request; and a
// dry run that proves and tells without changing anything.
class ActionDialog : public QDialog {
  Q_OBJECT

 public:
  // kind: the action asked for (SymbolicLink for either kind of symbolic
  // link); destination: where a move went last, to start from.
  ActionDialog(ActionKind kind, const ActPlan& plan, const QString& destination, QWidget* parent = nullptr);

  // The action as the dialog stands; DryRun when the dry run was asked.
  TickedAction Chosen() const;

  QLabel* Question;
  QLabel* Details;
  QRadioButton* Absolute = nullptr;  // symbolic links: to the copy's absolute path
  QRadioButton* Relative = nullptr;  // or relative to the file's folder
  QLineEdit* Destination = nullptr;  // a move: the folder
  QCheckBox* RemoveEmpty = nullptr;  // the Trash, a move: remove the folders left empty
  QPushButton* ShowFiles;
  QPlainTextEdit* Files;
  QPushButton* DryRun;
  QPushButton* Act;

 private:
  void ChooseDestination();

  ActionKind kind_;
  bool dryRun_ = false;
};

}  // namespace veldrano
