#pragma once
#include <QAbstractItemModel>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace veldrano {

// TreeView1 over the engine's results tree: the root "VESK", one node per
// signature group (bold teal), the files of each group. Like the selection
// model it keeps its own counts and grows only when told.
class ResultsTreeModel : public QAbstractItemModel {
  Q_OBJECT
 public:
  explicit ResultsTreeModel(QObject* parent = nullptr);
  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;

  QModelIndex RootIndex() const;
  QModelIndex GroupIndex(int group) const;
  QModelIndex FileIndex(int group, int file) const;
  // Every node of the tree, root included.
  int NodeCount() const;
  // The path of the file at index, as bytes; empty for the root and groups.
  std::string FilePathAt(const QModelIndex& index) const;
  // The group and file of a file's row, if index is one.
  std::optional<std::pair<std::uint32_t, std::uint32_t>> FileAt(const QModelIndex& index) const;

  void RootCreated();
  void DuplicateRecorded(int group, bool newGroup);
  // The engine emptied the tree, or replaced its groups: shown afresh.
  void Reload();

 private:
  bool hasRoot_ = false;
  std::vector<int> files_;  // per group shown: its files shown
};

}  // namespace veldrano
