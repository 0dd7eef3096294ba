#include "app/duplicate_folders_model.h"

#include "app/text_bytes.h"
#include "report/formatting.h"

namespace veldrano {

namespace {

enum Column { FolderColumn, FilesColumn, SizeColumn, CopiesColumn, ColumnCount };

// The Copies in column names the folder with the most copies, and how many
// more there are: a list would be cut in its middle, where the names are.
// The tooltip names them all.
QString CopiesText(const DuplicateFolder& folder, bool all) {
  if (!all && folder.SameFiles) return QStringLiteral("Same files as %1").arg(ToDisplay(folder.EveryFileIn));
  if (!all && !folder.EveryFileIn.empty()) {
    return QStringLiteral("Every file is in %1").arg(ToDisplay(folder.EveryFileIn));
  }
  QStringList parts;
  for (const FolderShare& share : folder.CopiesIn) {
    // One pass: a "%2" in a name stays as it is.
    parts.append(QStringLiteral("%1 (%2)").arg(ToDisplay(share.Folder), QString::number(share.Files)));
    if (!all) break;
  }
  if (!all && folder.CopiesIn.size() > 1) {
    parts.back().append(QStringLiteral(" and %1 more").arg(folder.CopiesIn.size() - 1));
  }
  return parts.join(QStringLiteral("\n"));
}

}  // namespace

DuplicateFoldersModel::DuplicateFoldersModel(QObject* parent) : QAbstractTableModel(parent) {}

int DuplicateFoldersModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(folders_.size());
}

int DuplicateFoldersModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant DuplicateFoldersModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const DuplicateFolder& folder = folders_[static_cast<std::size_t>(index.row())];
  if (role == Qt::TextAlignmentRole && (index.column() == FilesColumn || index.column() == SizeColumn)) {
    return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
  }
  if (role == Qt::ToolTipRole && index.column() == CopiesColumn) {
    QString text = QStringLiteral("Copies of its files in:\n") + CopiesText(folder, true);
    if (!folder.EveryFileIn.empty()) {
      text.prepend(
          (folder.SameFiles ? QStringLiteral("Same files as %1\n\n") : QStringLiteral("Every file is in %1\n\n"))
              .arg(ToDisplay(folder.EveryFileIn)));
    }
    return text;
  }
  if (role == Qt::ToolTipRole && index.column() == FolderColumn) {
    return QStringLiteral("Double-click to list its files");
  }
  if (role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case FolderColumn: return ToDisplay(folder.Path);
    case FilesColumn: return QString::fromStdString(FormatCount(' ', static_cast<long double>(folder.Files)));
    case SizeColumn: return QString::fromStdString(FormatSize(folder.Bytes));
    case CopiesColumn: return CopiesText(folder, false);
    default: return {};
  }
}

QVariant DuplicateFoldersModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
    case FolderColumn: return QStringLiteral("Folder");
    case FilesColumn: return QStringLiteral("Files");
    case SizeColumn: return QStringLiteral("Size");
    case CopiesColumn: return QStringLiteral("Copies in");
    default: return {};
  }
}

void DuplicateFoldersModel::Reload() {
  beginResetModel();
  folders_ = FindDuplicateFolders();
  endResetModel();
}

std::string DuplicateFoldersModel::FolderAt(const QModelIndex& index) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  return folders_[static_cast<std::size_t>(index.row())].Path;
}

}  // namespace veldrano
