#include "app/selection_model.h"

#include <QApplication>
#include <QPalette>

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "app/row_colours.h"
#include "app/text_bytes.h"
#include "results/reference_folders.h"
#include "results/selection_sort.h"
#include "scan/scan_context.h"

namespace veldrano {

SelectionModel::SelectionModel(QObject* parent) : QAbstractTableModel(parent) {}

int SelectionModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int SelectionModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 3; }

QVariant SelectionModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(ScanContext.Selection.size())) return {};
  const SelectionRow& row = ScanContext.Selection[static_cast<std::size_t>(index.row())];
  switch (role) {
    case Qt::DisplayRole:
      switch (index.column()) {
        case 0: return ToDisplay(GroupOf(row).Signature);
        case 1: return QString::fromStdString(SizeTextOf(row));
        default: return ToDisplay(PathOf(row));
      }
    case Qt::CheckStateRole:
      if (index.column() == 0) return row.Checked ? Qt::Checked : Qt::Unchecked;
      return {};
    case Qt::ToolTipRole:  // the whole path, which the column may cut
      if (index.column() == 2) return ToDisplay(PathOf(row));
      if (index.column() == 0 && InReferenceFolder(PathOf(row))) {
        return QStringLiteral("In a reference folder: it may stay, it is never ticked");
      }
      if (const std::string* why = ChangedSince(GroupOf(row), row.File); why != nullptr && index.column() < 2) {
        return ToDisplay(*why) + QStringLiteral(": it is never acted on");
      }
      return {};
    case Qt::TextAlignmentRole:
      if (index.column() == 1) return QVariant(Qt::AlignRight | Qt::AlignVCenter);
      return {};
    case Qt::BackgroundRole:
      return index.row() % 2 == 1 ? DesktopRowColours().SelectionStripe : DesktopRowColours().Plain;
    case Qt::ForegroundRole:
      // A file gone or changed since its results were saved is greyed.
      if (ChangedSince(GroupOf(row), row.File) != nullptr)
        return QApplication::palette().color(QPalette::Disabled, QPalette::Text);
      return DesktopRowColours().Text;
    default: return {};
  }
}

bool SelectionModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || index.column() != 0 || role != Qt::CheckStateRole) return false;
  if (index.row() >= static_cast<int>(ScanContext.Selection.size())) return false;
  SelectionRow& row = ScanContext.Selection[static_cast<std::size_t>(index.row())];
  if (!MayBeTicked(row)) return false;
  row.Checked = value.value<Qt::CheckState>() == Qt::Checked;
  emit dataChanged(index, index, {Qt::CheckStateRole});
  return true;
}

Qt::ItemFlags SelectionModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (index.column() != 0) return flags;
  flags |= Qt::ItemIsUserCheckable;
  // A file of a reference folder, or changed since its results were saved,
  // shows its check box, greyed: it cannot be ticked.
  if (index.row() < static_cast<int>(ScanContext.Selection.size()) &&
      !MayBeTicked(ScanContext.Selection[static_cast<std::size_t>(index.row())])) {
    flags &= ~Qt::ItemIsEnabled;
  }
  return flags;
}

QVariant SelectionModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return {};
  if (role == Qt::DisplayRole) {
    static const char* const headers[] = {"MD5", "Size", "Path"};
    return QString::fromLatin1(headers[section]);
  }
  if (role == Qt::TextAlignmentRole && section == 1) return QVariant(Qt::AlignRight | Qt::AlignVCenter);
  return {};
}

void SelectionModel::Appended() {
  const int now = static_cast<int>(ScanContext.Selection.size());
  if (now <= rows_) return;
  beginInsertRows({}, rows_, now - 1);
  rows_ = now;
  endInsertRows();
}

void SelectionModel::ChecksChanged() {
  if (rows_ > 0) emit dataChanged(index(0, 0), index(rows_ - 1, 0), {Qt::CheckStateRole});
}

void SelectionModel::ReferencesChanged() {
  if (rows_ > 0) emit dataChanged(index(0, 0), index(rows_ - 1, 0), {Qt::CheckStateRole, Qt::ToolTipRole});
}

void SelectionModel::Reload() {
  beginResetModel();
  rows_ = static_cast<int>(ScanContext.Selection.size());
  endResetModel();
}

void SelectionModel::SortByColumn(int column) {
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  // The current row, the selection and anything else a view holds on to
  // follow their files to where the sort puts them.
  const QModelIndexList held = persistentIndexList();
  std::unordered_map<std::uint64_t, int> newRows;
  const auto identity = [](const SelectionRow& row) { return std::uint64_t{row.Group} << 32 | row.File; };
  std::vector<std::uint64_t> heldRows;
  for (const QModelIndex& index : held) {
    heldRows.push_back(identity(ScanContext.Selection[static_cast<std::size_t>(index.row())]));
    newRows.emplace(heldRows.back(), index.row());
  }
  const auto finish = [&] {
    for (std::size_t row = 0; row < ScanContext.Selection.size(); ++row) {
      if (auto found = newRows.find(identity(ScanContext.Selection[row])); found != newRows.end()) {
        found->second = static_cast<int>(row);
      }
    }
    QModelIndexList moved;
    for (qsizetype i = 0; i < held.size(); ++i) {
      moved << index(newRows[heldRows[static_cast<std::size_t>(i)]], held[i].column());
    }
    changePersistentIndexList(held, moved);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
  };
  try {
    SortSelectionByColumn(column);
  } catch (...) {
    finish();
    throw;  // a size that is not a number: the application's handler reports it
  }
  finish();
}

}  // namespace veldrano
