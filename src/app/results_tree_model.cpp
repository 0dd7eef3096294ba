#include "app/results_tree_model.h"

#include <QColor>
#include <QFont>

#include "app/text_bytes.h"
#include "scan/scan_context.h"

namespace veldrano {

namespace {

// Node identities: 0 the root, g + 1 group g, (g + 1) << 32 | (f + 1) file f
// of group g.
constexpr quintptr RootId = 0;
quintptr GroupId(int g) { return static_cast<quintptr>(g) + 1; }
quintptr FileId(int g, int f) { return (static_cast<quintptr>(g) + 1) << 32 | (static_cast<quintptr>(f) + 1); }
int GroupOfId(quintptr id) { return static_cast<int>((id >> 32 != 0 ? id >> 32 : id) - 1); }
int FileOfId(quintptr id) { return static_cast<int>((id & 0xffffffffu) - 1); }
int LevelOf(quintptr id) { return id == RootId ? 0 : (id >> 32) == 0 ? 1 : 2; }

}  // namespace

ResultsTreeModel::ResultsTreeModel(QObject* parent) : QAbstractItemModel(parent) {}

QModelIndex ResultsTreeModel::RootIndex() const { return hasRoot_ ? createIndex(0, 0, RootId) : QModelIndex(); }

QModelIndex ResultsTreeModel::GroupIndex(int group) const {
  if (!hasRoot_ || group < 0 || group >= static_cast<int>(files_.size())) return {};
  return createIndex(group, 0, GroupId(group));
}

QModelIndex ResultsTreeModel::FileIndex(int group, int file) const {
  if (GroupIndex(group).isValid() && file >= 0 && file < files_[static_cast<std::size_t>(group)]) {
    return createIndex(file, 0, FileId(group, file));
  }
  return {};
}

int ResultsTreeModel::NodeCount() const {
  int nodes = hasRoot_ ? 1 : 0;
  for (const int files : files_) nodes += 1 + files;
  return nodes;
}

QModelIndex ResultsTreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (column != 0 || row < 0) return {};
  if (!parent.isValid()) return row == 0 ? RootIndex() : QModelIndex();
  switch (LevelOf(parent.internalId())) {
    case 0: return GroupIndex(row);
    case 1: return FileIndex(GroupOfId(parent.internalId()), row);
    default: return {};
  }
}

QModelIndex ResultsTreeModel::parent(const QModelIndex& child) const {
  if (!child.isValid()) return {};
  switch (LevelOf(child.internalId())) {
    case 1: return RootIndex();
    case 2: return GroupIndex(GroupOfId(child.internalId()));
    default: return {};
  }
}

int ResultsTreeModel::rowCount(const QModelIndex& parent) const {
  if (!parent.isValid()) return hasRoot_ ? 1 : 0;
  if (parent.column() != 0) return 0;
  switch (LevelOf(parent.internalId())) {
    case 0: return static_cast<int>(files_.size());
    case 1: return files_[static_cast<std::size_t>(GroupOfId(parent.internalId()))];
    default: return 0;
  }
}

int ResultsTreeModel::columnCount(const QModelIndex&) const { return 1; }

QVariant ResultsTreeModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || !ScanContext.ResultsRoot) return {};
  const quintptr id = index.internalId();
  const int level = LevelOf(id);
  if (role == Qt::DisplayRole) {
    if (level == 0) return QString::fromLatin1(ResultsNode::Text.data(), ResultsNode::Text.size());
    const SignatureGroup& group = ScanContext.ResultsRoot->Groups[static_cast<std::size_t>(GroupOfId(id))];
    if (level == 1) return ToDisplay(group.Signature);
    return ToDisplay(group.Files[static_cast<std::size_t>(FileOfId(id))]);
  }
  if (level == 1 && role == Qt::ForegroundRole) return QColor(0, 136, 136);
  if (level == 1 && role == Qt::FontRole) {
    QFont bold;
    bold.setBold(true);
    return bold;
  }
  return {};
}

void ResultsTreeModel::RootCreated() {
  if (hasRoot_) return;
  beginInsertRows({}, 0, 0);
  hasRoot_ = true;
  endInsertRows();
}

void ResultsTreeModel::DuplicateRecorded(int group, bool newGroup) {
  RootCreated();
  if (newGroup) {
    const int at = static_cast<int>(files_.size());
    beginInsertRows(RootIndex(), at, group);
    while (static_cast<int>(files_.size()) <= group) {
      files_.push_back(static_cast<int>(ScanContext.ResultsRoot->Groups[files_.size()].Files.size()));
    }
    endInsertRows();
    return;
  }
  const int shown = files_[static_cast<std::size_t>(group)];
  const int now = static_cast<int>(ScanContext.ResultsRoot->Groups[static_cast<std::size_t>(group)].Files.size());
  if (now <= shown) return;
  beginInsertRows(GroupIndex(group), shown, now - 1);
  files_[static_cast<std::size_t>(group)] = now;
  endInsertRows();
}

void ResultsTreeModel::Cleared() {
  beginResetModel();
  hasRoot_ = static_cast<bool>(ScanContext.ResultsRoot);
  files_.clear();
  endResetModel();
}

}  // namespace veldrano
