#pragma once
#include <QObject>

class QLineEdit;
class QTableView;
class QTimer;
class QTreeView;

namespace veldrano {

class ResultsTreeModel;
class SelectionModel;

// The search field above the results: the list and the tree show only the
// files whose paths it matches (ResultsSearch), a group only while one of
// its files shows. The results, and their ticks, stay as they are; a tick
// rule or a move still takes every row. Applied 200 ms after the last key,
// and again whenever the views reload, sort or grow.
class ResultsFilter : public QObject {
  Q_OBJECT
 public:
  ResultsFilter(QLineEdit* field, QTableView* list, SelectionModel* listModel, QTreeView* tree,
                ResultsTreeModel* treeModel, QObject* parent = nullptr);

  // Shows what the field's text matches, at once.
  void Apply();

 private:
  void ApplySoon();

  QLineEdit* field_;
  QTableView* list_;
  SelectionModel* listModel_;
  QTreeView* tree_;
  ResultsTreeModel* treeModel_;
  QTimer* timer_;
  bool narrowed_ = false;  // some rows are hidden
};

}  // namespace veldrano
