#pragma once
#include <QAbstractTableModel>
#include <vector>

#include "results/duplicate_folders.h"

namespace veldrano {

// The Folders tab over the duplicate folders of the results
// (FindDuplicateFolders): Folder, Files, Size and where the copies are. Found
// afresh by Reload, after a scan and whenever the results change.
class DuplicateFoldersModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit DuplicateFoldersModel(QObject* parent = nullptr);
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  void Reload();
  // The folder of a row, as bytes; empty for no row.
  std::string FolderAt(const QModelIndex& index) const;

 private:
  std::vector<DuplicateFolder> folders_;
};

}  // namespace veldrano
