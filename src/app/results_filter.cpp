#include "app/results_filter.h"

#include <QLineEdit>
#include <QTableView>
#include <QTimer>
#include <QTreeView>

#include "app/results_tree_model.h"
#include "app/selection_model.h"
#include "app/text_bytes.h"
#include "results/results_search.h"
#include "scan/scan_context.h"

namespace veldrano {

ResultsFilter::ResultsFilter(QLineEdit* field, QTableView* list, SelectionModel* listModel, QTreeView* tree,
                             ResultsTreeModel* treeModel, QObject* parent)
    : QObject(parent),
      field_(field),
      list_(list),
      listModel_(listModel),
      tree_(tree),
      treeModel_(treeModel),
      timer_(new QTimer(this)) {
  timer_->setSingleShot(true);
  timer_->setInterval(200);
  connect(timer_, &QTimer::timeout, this, &ResultsFilter::Apply);
  connect(field_, &QLineEdit::textChanged, this, [this] { timer_->start(); });
  // Rows that come, go or move are matched again.
  for (QAbstractItemModel* model :
       {static_cast<QAbstractItemModel*>(listModel_), static_cast<QAbstractItemModel*>(treeModel_)}) {
    connect(model, &QAbstractItemModel::modelReset, this, &ResultsFilter::ApplySoon);
    connect(model, &QAbstractItemModel::layoutChanged, this, &ResultsFilter::ApplySoon);
    connect(model, &QAbstractItemModel::rowsInserted, this, &ResultsFilter::ApplySoon);
  }
}

void ResultsFilter::ApplySoon() {
  if (!field_->text().isEmpty() && !timer_->isActive()) timer_->start();
}

void ResultsFilter::Apply() {
  const ResultsSearch search(ToBytes(field_->text()));
  if (search.ShowsEverything() && !narrowed_) return;
  narrowed_ = !search.ShowsEverything();
  const auto& rows = ScanContext.Selection;
  const int listRows = std::min(listModel_->rowCount(), static_cast<int>(rows.size()));
  list_->setUpdatesEnabled(false);
  for (int r = 0; r < listRows; ++r) list_->setRowHidden(r, !search.Shows(PathOf(rows[static_cast<std::size_t>(r)])));
  list_->setUpdatesEnabled(true);

  const QModelIndex root = treeModel_->RootIndex();
  if (!root.isValid() || !ScanContext.ResultsRoot) return;
  const auto& groups = ScanContext.ResultsRoot->Groups;
  tree_->setUpdatesEnabled(false);
  const int shownGroups = std::min(treeModel_->rowCount(root), static_cast<int>(groups.size()));
  for (int g = 0; g < shownGroups; ++g) {
    const QModelIndex group = treeModel_->GroupIndex(g);
    const int files =
        std::min(treeModel_->rowCount(group), static_cast<int>(groups[static_cast<std::size_t>(g)].Files.size()));
    bool any = false;
    for (int f = 0; f < files; ++f) {
      const bool shows = search.Shows(groups[static_cast<std::size_t>(g)].Files[static_cast<std::size_t>(f)]);
      tree_->setRowHidden(f, group, !shows);
      any = any || shows;
    }
    tree_->setRowHidden(g, root, !any);
  }
  tree_->setUpdatesEnabled(true);
}

}  // namespace veldrano
