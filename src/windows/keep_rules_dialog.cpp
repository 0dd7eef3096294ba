#include "windows/keep_rules_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

#include "app/text_bytes.h"
#include "report/formatting.h"
#include "results/reference_folders.h"
#include "scan/scan_context.h"
#include "scan/scan_filters.h"

namespace veldrano {

namespace {

using Kind = KeepCriterion::Kind;

// The criteria that come in two directions, and how each reads.
struct Pair {
  Kind First, Second;
  const char* FirstText;
  const char* SecondText;
};
constexpr Pair Pairs[] = {
    {Kind::PathMatches, Kind::PathNotMatches, "Path matches the pattern", "Path does not match the pattern"},
    {Kind::Oldest, Kind::Newest, "Oldest modification time", "Newest modification time"},
    {Kind::ShortestPath, Kind::LongestPath, "Shortest path", "Longest path"},
    {Kind::ShortestName, Kind::LongestName, "Shortest name", "Longest name"},
    {Kind::Shallowest, Kind::Deepest, "Fewest folders deep", "Most folders deep"},
    {Kind::WithoutCopyMarker, Kind::WithCopyMarker,
     "No copy marker in the name (\" (1)\", \" - Copy\", \"copy of\", \"~\")",
     "A copy marker in the name (\" (1)\", \" - Copy\", \"copy of\", \"~\")"},
};

const Pair* PairOf(Kind kind) {
  for (const Pair& pair : Pairs) {
    if (pair.First == kind || pair.Second == kind) return &pair;
  }
  return nullptr;
}

QString TextOf(const KeepCriterion& criterion) {
  if (criterion.Type == Kind::UnderFolders) {
    QStringList folders;
    for (const std::string& folder : criterion.Folders) folders << ToDisplay(folder);
    return QStringLiteral("Under the listed folders, in this order: ") + folders.join(QStringLiteral(", "));
  }
  const Pair* pair = PairOf(criterion.Type);
  QString text = QString::fromUtf8(pair->First == criterion.Type ? pair->FirstText : pair->SecondText);
  if (criterion.Type == Kind::PathMatches || criterion.Type == Kind::PathNotMatches) {
    text += QStringLiteral(" ") + ToDisplay(criterion.Pattern);
  }
  return text;
}

}  // namespace

KeepRulesDialog::KeepRulesDialog(const KeepRulesSettings& start, std::vector<std::string> folders,
                                 std::optional<std::uint32_t> group, QWidget* parent)
    : QDialog(parent), rules_(start.Rules), folders_(std::move(folders)), group_(group) {
  setObjectName(QStringLiteral("KeepRulesDialog"));
  setWindowTitle(QStringLiteral("Choose the copy to keep"));
  auto* layout = new QVBoxLayout(this);
  auto* intro = new QLabel(
      QStringLiteral("The file that wins in each group stays; every other file of the group is ticked. Ties go to "
                     "the next criterion, then to the file found first. Nothing is moved until you ask for it."),
      this);
  intro->setWordWrap(true);
  layout->addWidget(intro);

  auto* listRow = new QHBoxLayout;
  Criteria = new QListWidget(this);
  Criteria->setObjectName(QStringLiteral("Criteria"));
  listRow->addWidget(Criteria, 1);
  auto* buttons = new QVBoxLayout;
  AddButton = new QPushButton(QStringLiteral("&Add"), this);
  auto* addMenu = new QMenu(AddButton);
  addMenu->addAction(QStringLiteral("Under the listed folders, in an order"), this,
                     [this] { Add(Kind::UnderFolders); });
  for (const Pair& pair : Pairs) {
    addMenu->addAction(QString::fromUtf8(pair.FirstText), this, [this, kind = pair.First] { Add(kind); });
  }
  AddButton->setMenu(addMenu);
  RemoveButton = new QPushButton(QStringLiteral("&Remove"), this);
  UpButton = new QPushButton(QStringLiteral("&Up"), this);
  DownButton = new QPushButton(QStringLiteral("&Down"), this);
  for (QPushButton* button : {AddButton, RemoveButton, UpButton, DownButton}) buttons->addWidget(button);
  buttons->addStretch(1);
  listRow->addLayout(buttons);
  layout->addLayout(listRow, 1);
  connect(RemoveButton, &QPushButton::clicked, this, [this] {
    const int row = Criteria->currentRow();
    if (row < 1) return;
    rules_.erase(rules_.begin() + (row - 1));
    Refresh();
    Criteria->setCurrentRow(std::min(row, Criteria->count() - 1));
  });
  connect(UpButton, &QPushButton::clicked, this, [this] { Move(-1); });
  connect(DownButton, &QPushButton::clicked, this, [this] { Move(1); });

  // What the highlighted criterion says.
  auto* editor = new QFormLayout;
  Direction = new QComboBox(this);
  directionLabel_ = new QLabel(QStringLiteral("&Which wins:"), this);
  directionLabel_->setBuddy(Direction);
  editor->addRow(directionLabel_, Direction);
  Pattern = new QLineEdit(this);
  Pattern->setPlaceholderText(QStringLiteral("*/Backup*/*"));
  Pattern->setToolTip(QStringLiteral("A shell pattern on the whole path: * and ? match any characters, / included"));
  patternLabel_ = new QLabel(QStringLiteral("&Pattern:"), this);
  patternLabel_->setBuddy(Pattern);
  editor->addRow(patternLabel_, Pattern);
  folderRow_ = new QWidget(this);
  auto* folderLayout = new QHBoxLayout(folderRow_);
  folderLayout->setContentsMargins(0, 0, 0, 0);
  FolderOrder = new QListWidget(folderRow_);
  folderLayout->addWidget(FolderOrder, 1);
  auto* folderButtons = new QVBoxLayout;
  auto* folderUp = new QPushButton(QStringLiteral("Earlier"), folderRow_);
  auto* folderDown = new QPushButton(QStringLiteral("Later"), folderRow_);
  folderButtons->addWidget(folderUp);
  folderButtons->addWidget(folderDown);
  folderButtons->addStretch(1);
  folderLayout->addLayout(folderButtons);
  folderLabel_ = new QLabel(QStringLiteral("Folders, the first preferred:"), this);
  editor->addRow(folderLabel_, folderRow_);
  layout->addLayout(editor);
  connect(Direction, &QComboBox::activated, this, &KeepRulesDialog::DirectionChosen);
  connect(Pattern, &QLineEdit::textEdited, this, &KeepRulesDialog::PatternEdited);
  connect(folderUp, &QPushButton::clicked, this, [this] { MoveFolder(-1); });
  connect(folderDown, &QPushButton::clicked, this, [this] { MoveFolder(1); });

  Problem = new QLabel(this);
  Problem->setStyleSheet(QStringLiteral("color: #c00000"));
  Problem->setWordWrap(true);
  layout->addWidget(Problem);
  Preview = new QLabel(this);
  Preview->setObjectName(QStringLiteral("Preview"));
  Preview->setWordWrap(true);
  Preview->setTextFormat(Qt::PlainText);
  layout->addWidget(Preview);
  AfterEveryScan = new QCheckBox(QStringLiteral("Apply after every &scan"), this);
  AfterEveryScan->setChecked(start.AfterEveryScan);
  layout->addWidget(AfterEveryScan);
  Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  layout->addWidget(Buttons);
  connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  connect(Criteria, &QListWidget::currentRowChanged, this, &KeepRulesDialog::ShowCurrent);
  Refresh();
  Criteria->setCurrentRow(0);
  resize(640, 480);
}

KeepRulesSettings KeepRulesDialog::Chosen() const { return {rules_, AfterEveryScan->isChecked()}; }

KeepCriterion* KeepRulesDialog::Current() {
  const int row = Criteria->currentRow();
  return row >= 1 && row - 1 < static_cast<int>(rules_.size()) ? &rules_[static_cast<std::size_t>(row - 1)] : nullptr;
}

void KeepRulesDialog::Add(Kind kind) {
  KeepCriterion criterion{kind, {}, {}};
  if (kind == Kind::UnderFolders) {
    for (const std::string& folder : folders_) criterion.Folders.push_back(folder);
  }
  rules_.push_back(std::move(criterion));
  Refresh();
  Criteria->setCurrentRow(Criteria->count() - 1);
  if (kind == Kind::PathMatches) Pattern->setFocus();
}

void KeepRulesDialog::Move(int by) {
  const int row = Criteria->currentRow();
  const int to = row + by;
  if (row < 1 || to < 1 || to > static_cast<int>(rules_.size())) return;
  std::swap(rules_[static_cast<std::size_t>(row - 1)], rules_[static_cast<std::size_t>(to - 1)]);
  Refresh();
  Criteria->setCurrentRow(to);
}

void KeepRulesDialog::ShowCurrent() {
  const KeepCriterion* criterion = Current();
  RemoveButton->setEnabled(criterion != nullptr);
  UpButton->setEnabled(criterion != nullptr && Criteria->currentRow() > 1);
  DownButton->setEnabled(criterion != nullptr && Criteria->currentRow() < Criteria->count() - 1);
  const Pair* pair = criterion != nullptr ? PairOf(criterion->Type) : nullptr;
  const bool pattern =
      criterion != nullptr && (criterion->Type == Kind::PathMatches || criterion->Type == Kind::PathNotMatches);
  const bool folders = criterion != nullptr && criterion->Type == Kind::UnderFolders;
  directionLabel_->setVisible(pair != nullptr);
  Direction->setVisible(pair != nullptr);
  patternLabel_->setVisible(pattern);
  Pattern->setVisible(pattern);
  folderLabel_->setVisible(folders);
  folderRow_->setVisible(folders);
  if (pair != nullptr) {
    Direction->clear();
    Direction->addItem(QString::fromUtf8(pair->FirstText));
    Direction->addItem(QString::fromUtf8(pair->SecondText));
    Direction->setCurrentIndex(criterion->Type == pair->First ? 0 : 1);
  }
  if (pattern) Pattern->setText(ToDisplay(criterion->Pattern));
  if (folders) {
    FolderOrder->clear();
    for (const std::string& folder : criterion->Folders) FolderOrder->addItem(ToDisplay(folder));
  }
}

void KeepRulesDialog::DirectionChosen(int index) {
  KeepCriterion* criterion = Current();
  const Pair* pair = criterion != nullptr ? PairOf(criterion->Type) : nullptr;
  if (pair == nullptr) return;
  criterion->Type = index == 0 ? pair->First : pair->Second;
  Refresh();
}

void KeepRulesDialog::PatternEdited() {
  if (KeepCriterion* criterion = Current()) {
    criterion->Pattern = ToBytes(Pattern->text());
    Refresh();
  }
}

void KeepRulesDialog::MoveFolder(int by) {
  KeepCriterion* criterion = Current();
  const int row = FolderOrder->currentRow();
  const int to = row + by;
  if (criterion == nullptr || row < 0 || to < 0 || to >= static_cast<int>(criterion->Folders.size())) return;
  std::swap(criterion->Folders[static_cast<std::size_t>(row)], criterion->Folders[static_cast<std::size_t>(to)]);
  ShowCurrent();
  FolderOrder->setCurrentRow(to);
  Refresh();
}

void KeepRulesDialog::Refresh() {
  // The rows, the first fixed.
  const int current = Criteria->currentRow();
  {
    const QSignalBlocker quiet(Criteria);
    Criteria->clear();
    Criteria->addItem(QStringLiteral("In a reference folder (always first)"));
    for (const KeepCriterion& criterion : rules_) Criteria->addItem(TextOf(criterion));
    Criteria->setCurrentRow(std::min(current, Criteria->count() - 1));
  }
  // A rule that cannot be used holds OK back, with its reason.
  QString problem;
  for (const KeepCriterion& criterion : rules_) {
    if (criterion.Type != Kind::PathMatches && criterion.Type != Kind::PathNotMatches) continue;
    if (const std::string bad = PatternProblem(criterion.Pattern, false); !bad.empty()) {
      problem = QStringLiteral("The pattern \"%1\" cannot be used: %2")
                    .arg(ToDisplay(criterion.Pattern), QString::fromStdString(bad));
      break;
    }
  }
  Problem->setText(problem);
  Problem->setVisible(!problem.isEmpty());
  Buttons->button(QDialogButtonBox::Ok)->setEnabled(problem.isEmpty());
  if (!problem.isEmpty() || !ScanContext.ResultsRoot) {
    Preview->setText(problem.isEmpty() ? QStringLiteral("No results to tick yet.") : QString());
    return;
  }

  // What OK would tick.
  const KeepFacts facts = CurrentFacts();
  const ResultsNode& root = *ScanContext.ResultsRoot;
  const std::vector<std::uint32_t> keep = ChooseKept(rules_, root, facts);
  std::int64_t files = 0;
  long double bytes = 0;
  for (std::size_t g = 0; g < root.Groups.size(); ++g) {
    for (std::size_t f = 0; f < root.Groups[g].Files.size(); ++f) {
      if (f == keep[g] || InReferenceFolder(root.Groups[g].Files[f])) continue;
      ++files;
      bytes += root.Groups[g].Size;
    }
  }
  QString text = QStringLiteral("OK ticks %1 %2 (%3).")
                     .arg(QString::fromStdString(FormatCount(' ', static_cast<long double>(files))),
                          files == 1 ? QStringLiteral("file") : QStringLiteral("files"),
                          QString::fromStdString(FormatSize(bytes)));
  if (group_ && *group_ < root.Groups.size()) {
    text += QStringLiteral("\nIn the highlighted group, this one stays: ") +
            ToDisplay(root.Groups[*group_].Files[keep[*group_]]);
  }
  Preview->setText(text);
}

}  // namespace veldrano
