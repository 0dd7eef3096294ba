#pragma once
#include <QAbstractTableModel>

namespace veldrano {

// lvSelection over the engine's selection rows (ScanContext.Selection):
// MD5, Size and Path, with the row's check box on the MD5 column (greyed for
// a file of a reference folder, which cannot be ticked); odd rows pale
// yellow. The model keeps its own row count and learns of new rows from
// Appended(), so a view never sees rows it was not told about.
class SelectionModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit SelectionModel(QObject* parent = nullptr);
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // The engine appended rows at the end of the list.
  void Appended();
  // The engine emptied the list, or replaced its rows: shown afresh.
  void Reload();
  // The check boxes of any rows changed at once (a tick rule).
  void ChecksChanged();
  // The reference folders changed: which check boxes can be ticked.
  void ReferencesChanged();
  // Sorts by column c (0 MD5, 1 Size, 2 Path), as a click on its header.
  void SortByColumn(int column);

 private:
  int rows_ = 0;
};

}  // namespace veldrano
