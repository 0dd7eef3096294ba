#include "app/log_model.h"

#include "app/pictures.h"
#include "app/row_colours.h"
#include "app/text_bytes.h"

namespace veldrano {

LogModel::LogModel(QObject* parent) : QAbstractTableModel(parent) {
  for (int i = 0; i < 4; ++i) images_[static_cast<std::size_t>(i)] = LogImage(i);
}

int LogModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int LogModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 4; }

QVariant LogModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const LogRow& row = rows_[static_cast<std::size_t>(index.row())];
  switch (role) {
    case Qt::DisplayRole:
      switch (index.column()) {
        case 0: return ToDisplay(row.Time);
        case 1: return ToDisplay(row.Information);
        case 2: return ToDisplay(row.Name);
        default: return ToDisplay(row.Comment);
      }
    case Qt::ToolTipRole:  // the whole of a name or comment the column cuts
      if (index.column() == 2 && !row.Name.empty()) return ToDisplay(row.Name);
      if (index.column() == 3 && !row.Comment.empty()) return ToDisplay(row.Comment);
      return {};
    case Qt::DecorationRole:
      if (index.column() == 0 && row.ImageIndex >= 0 && row.ImageIndex < 4) {
        return images_[static_cast<std::size_t>(row.ImageIndex)];
      }
      return {};
    case Qt::BackgroundRole: return index.row() % 2 == 0 ? DesktopRowColours().LogStripe : DesktopRowColours().Plain;
    case Qt::ForegroundRole: return DesktopRowColours().Text;
    default: return {};
  }
}

QVariant LogModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const char* const headers[] = {"Time", "Information", "Name", "Comment"};
  return QString::fromLatin1(headers[section]);
}

void LogModel::Append(const LogRow& row) {
  const int at = static_cast<int>(rows_.size());
  beginInsertRows({}, at, at);
  rows_.push_back(row);
  endInsertRows();
}

void LogModel::Clear() {
  beginResetModel();
  rows_.clear();
  endResetModel();
}

}  // namespace veldrano
