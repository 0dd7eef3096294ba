#include "app/results_tree_model.h"

#include <QApplication>
#include <QPalette>

#include <QFont>

#include "app/row_colours.h"
#include "app/text_bytes.h"
#include "scan/scan_context.h"
#include "signature/mix64.h"

namespace veldrano {

namespace {

// Node identities: 0 the root, g + 1 group g, (g + 1) << 32 | (f + 1) file f
// of group g.
constexpr quint64 RootNode = 0;
quint64 GroupNode(int g) { return static_cast<quint64>(g) + 1; }
quint64 FileNode(int g, int f) { return (static_cast<quint64>(g) + 1) << 32 | (static_cast<quint64>(f) + 1); }
int GroupOfNode(quint64 node) { return static_cast<int>((node >> 32 != 0 ? node >> 32 : node) - 1); }
int FileOfNode(quint64 node) { return static_cast<int>((node & 0xffffffffu) - 1); }
int LevelOfNode(quint64 node) { return node == RootNode ? 0 : (node >> 32) == 0 ? 1 : 2; }

// An index carries its node's identity mixed, all bits into all bits (and
// back, exactly). Qt hashes an index as 16 x row + its identity, without
// mixing: identities in sequence make the hashes of a view's persistent
// indexes (every expanded group) fall in long runs, so that expanding and
// collapsing thousands of groups took a time growing with their square and
// more. Mixed (Mix64), they spread.
quintptr IdOf(quint64 node) { return static_cast<quintptr>(Mix64(node)); }
quint64 NodeOf(const QModelIndex& index) { return Unmix64(static_cast<quint64>(index.internalId())); }

}  // namespace

ResultsTreeModel::ResultsTreeModel(QObject* parent) : QAbstractItemModel(parent) {}

QModelIndex ResultsTreeModel::RootIndex() const { return hasRoot_ ? createIndex(0, 0, IdOf(RootNode)) : QModelIndex(); }

QModelIndex ResultsTreeModel::GroupIndex(int group) const {
  if (!hasRoot_ || group < 0 || group >= static_cast<int>(files_.size())) return {};
  return createIndex(group, 0, IdOf(GroupNode(group)));
}

QModelIndex ResultsTreeModel::FileIndex(int group, int file) const {
  if (GroupIndex(group).isValid() && file >= 0 && file < files_[static_cast<std::size_t>(group)]) {
    return createIndex(file, 0, IdOf(FileNode(group, file)));
  }
  return {};
}

std::string ResultsTreeModel::FilePathAt(const QModelIndex& index) const {
  if (!index.isValid() || !ScanContext.ResultsRoot) return {};
  const quint64 node = NodeOf(index);
  if (LevelOfNode(node) != 2) return {};
  return ScanContext.ResultsRoot->Groups[static_cast<std::size_t>(GroupOfNode(node))]
      .Files[static_cast<std::size_t>(FileOfNode(node))];
}

std::optional<std::pair<std::uint32_t, std::uint32_t>> ResultsTreeModel::FileAt(const QModelIndex& index) const {
  if (!index.isValid() || !ScanContext.ResultsRoot) return std::nullopt;
  const quint64 node = NodeOf(index);
  if (LevelOfNode(node) != 2) return std::nullopt;
  return std::pair{static_cast<std::uint32_t>(GroupOfNode(node)), static_cast<std::uint32_t>(FileOfNode(node))};
}

int ResultsTreeModel::NodeCount() const {
  int nodes = hasRoot_ ? 1 : 0;
  for (const int files : files_) nodes += 1 + files;
  return nodes;
}

QModelIndex ResultsTreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (column != 0 || row < 0) return {};
  if (!parent.isValid()) return row == 0 ? RootIndex() : QModelIndex();
  switch (LevelOfNode(NodeOf(parent))) {
    case 0: return GroupIndex(row);
    case 1: return FileIndex(GroupOfNode(NodeOf(parent)), row);
    default: return {};
  }
}

QModelIndex ResultsTreeModel::parent(const QModelIndex& child) const {
  if (!child.isValid()) return {};
  switch (LevelOfNode(NodeOf(child))) {
    case 1: return RootIndex();
    case 2: return GroupIndex(GroupOfNode(NodeOf(child)));
    default: return {};
  }
}

int ResultsTreeModel::rowCount(const QModelIndex& parent) const {
  if (!parent.isValid()) return hasRoot_ ? 1 : 0;
  if (parent.column() != 0) return 0;
  switch (LevelOfNode(NodeOf(parent))) {
    case 0: return static_cast<int>(files_.size());
    case 1: return files_[static_cast<std::size_t>(GroupOfNode(NodeOf(parent)))];
    default: return 0;
  }
}

int ResultsTreeModel::columnCount(const QModelIndex&) const { return 1; }

QVariant ResultsTreeModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || !ScanContext.ResultsRoot) return {};
  const quint64 node = NodeOf(index);
  const int level = LevelOfNode(node);
  if (role == Qt::DisplayRole) {
    if (level == 0) return QString::fromLatin1(ResultsNode::Text.data(), ResultsNode::Text.size());
    const SignatureGroup& group = ScanContext.ResultsRoot->Groups[static_cast<std::size_t>(GroupOfNode(node))];
    if (level == 1) return ToDisplay(group.Signature);
    return ToDisplay(group.Files[static_cast<std::size_t>(FileOfNode(node))]);
  }
  if (level == 1 && role == Qt::ForegroundRole) return DesktopRowColours().Group;
  if (level == 2 && (role == Qt::ForegroundRole || role == Qt::ToolTipRole)) {
    // A file gone or changed since its results were saved is greyed.
    const SignatureGroup& group = ScanContext.ResultsRoot->Groups[static_cast<std::size_t>(GroupOfNode(node))];
    const std::string* why = ChangedSince(group, static_cast<std::uint32_t>(FileOfNode(node)));
    if (why == nullptr) return {};
    if (role == Qt::ToolTipRole) return ToDisplay(*why) + QStringLiteral(": it is never acted on");
    return QApplication::palette().color(QPalette::Disabled, QPalette::Text);
  }
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

void ResultsTreeModel::Reload() {
  beginResetModel();
  hasRoot_ = static_cast<bool>(ScanContext.ResultsRoot);
  files_.clear();
  if (hasRoot_) {
    for (const SignatureGroup& group : ScanContext.ResultsRoot->Groups) {
      files_.push_back(static_cast<int>(group.Files.size()));
    }
  }
  endResetModel();
}

}  // namespace veldrano
