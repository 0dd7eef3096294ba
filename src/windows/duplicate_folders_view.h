#pragma once
#include <QTableView>

namespace veldrano {

class DuplicateFoldersModel;

// The Folders tab: the duplicate folders of the results, one per row. A
// double-click asks the search field to show that folder's files.
class DuplicateFoldersView : public QTableView {
  Q_OBJECT
 public:
  explicit DuplicateFoldersView(QWidget* parent = nullptr);
  // The results changed, or a scan ended: the folders are found again.
  void Reload();
  DuplicateFoldersModel* Model() const { return model_; }

 signals:
  // The search text that lists the files of the folder double-clicked.
  void SearchFor(const QString& text);

 private:
  DuplicateFoldersModel* model_;
};

}  // namespace veldrano
