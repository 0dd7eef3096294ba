#pragma once
#include <QAbstractTableModel>
#include <QIcon>

#include <array>
#include <vector>

#include "scan/window_port.h"

namespace veldrano {

// The rows of the activity log: Time, Information, Name, Comment, with the
// picture of the entry's kind; even rows pale cyan, odd rows white.
class LogModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit LogModel(QObject* parent = nullptr);
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  void Append(const LogRow& row);
  void Clear();
  const LogRow& Row(int row) const { return rows_[static_cast<std::size_t>(row)]; }

 private:
  std::vector<LogRow> rows_;
  std::array<QIcon, 4> images_;  // ImageList2: ready, information, warning, error
};

}  // namespace veldrano
