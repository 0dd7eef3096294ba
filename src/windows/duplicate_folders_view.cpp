#include "windows/duplicate_folders_view.h"

#include <QHeaderView>

#include <algorithm>

#include "app/duplicate_folders_model.h"
#include "app/text_bytes.h"
#include "results/results_search.h"

namespace veldrano {

DuplicateFoldersView::DuplicateFoldersView(QWidget* parent)
    : QTableView(parent), model_(new DuplicateFoldersModel(this)) {
  setObjectName(QStringLiteral("FoldersView"));
  setModel(model_);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setAlternatingRowColors(true);
  setWordWrap(false);
  setTextElideMode(Qt::ElideMiddle);  // a path keeps its both ends
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  horizontalHeader()->setStretchLastSection(true);
  connect(this, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
    const std::string folder = model_->FolderAt(index);
    if (!folder.empty()) emit SearchFor(ToDisplay(FolderSearchText(folder)));
  });
}

void DuplicateFoldersView::Reload() {
  model_->Reload();
  // The numbers as wide as they need; the folder and where its copies are
  // share what they leave, the folder no wider than its longest path.
  for (const int column : {1, 2}) resizeColumnToContents(column);
  resizeColumnToContents(0);
  const int left = viewport()->width() - columnWidth(1) - columnWidth(2);
  setColumnWidth(0, std::max(std::min(columnWidth(0), left / 2), 80));
}

}  // namespace veldrano
