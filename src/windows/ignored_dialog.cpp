#include "windows/ignored_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

#include "app/text_bytes.h"

namespace veldrano {

IgnoredDialog::IgnoredDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("IgnoredDialog"));
  setWindowTitle(QStringLiteral("Not duplicates"));
  auto* layout = new QVBoxLayout(this);
  auto* about = new QLabel(QStringLiteral("These groups and files are left out of every scan's results. A group "
                                          "shows again once a copy turns up elsewhere. Take one back to see it "
                                          "again from the next scan on."),
                           this);
  about->setWordWrap(true);
  layout->addWidget(about);
  Entries = new QListWidget(this);
  Entries->setSelectionMode(QAbstractItemView::ExtendedSelection);
  layout->addWidget(Entries, 1);
  Problem = new QLabel(this);
  Problem->setStyleSheet(QStringLiteral("color: red"));
  Problem->setWordWrap(true);
  layout->addWidget(Problem);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  TakeBack = buttons->addButton(QStringLiteral("&Take back"), QDialogButtonBox::ActionRole);
  connect(TakeBack, &QPushButton::clicked, this, &IgnoredDialog::TakeBackSelected);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(Entries, &QListWidget::itemSelectionChanged, this,
          [this] { TakeBack->setEnabled(!Entries->selectedItems().isEmpty()); });
  layout->addWidget(buttons);
  resize(fontMetrics().averageCharWidth() * 90, fontMetrics().height() * 20);
  Fill();
}

void IgnoredDialog::Fill() {
  std::string problem;
  const std::optional<std::vector<IgnoredEntry>> loaded = LoadIgnoreList(problem);
  entries_ = loaded.value_or(std::vector<IgnoredEntry>{});
  Problem->setText(ToDisplay(problem));
  Problem->setVisible(!problem.empty());
  Entries->clear();
  for (const IgnoredEntry& entry : entries_) {
    const QString kind = entry.Kind == IgnoredEntry::Kind::Group ? QStringLiteral("Group") : QStringLiteral("File");
    Entries->addItem(kind + QStringLiteral(": ") + ToDisplay(DescribeIgnored(entry)));
  }
  TakeBack->setEnabled(false);
}

void IgnoredDialog::TakeBackSelected() {
  std::vector<bool> taken(entries_.size(), false);
  for (const QListWidgetItem* item : Entries->selectedItems())
    taken[static_cast<std::size_t>(Entries->row(item))] = true;
  std::vector<IgnoredEntry> kept;
  for (std::size_t k = 0; k < entries_.size(); ++k) {
    if (!taken[k]) kept.push_back(entries_[k]);
  }
  std::string problem;
  if (!SaveIgnoreList(kept, problem)) {
    Problem->setText(ToDisplay(problem));
    Problem->setVisible(true);
    return;
  }
  Fill();
}

}  // namespace veldrano
