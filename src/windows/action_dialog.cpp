#include "windows/action_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/text_bytes.h"
#include "report/formatting.h"
#include "scan/scan_context.h"

namespace veldrano {

namespace {

// Beyond this many, the list of files says how many more there are.
constexpr std::size_t ListedFiles = 5000;

struct KindTexts {
  QString Title, Question, Consequence, Button;
};

KindTexts TextsOf(ActionKind kind) {
  switch (kind) {
    case ActionKind::Trash:
      return {QStringLiteral("Move to Trash"), QStringLiteral("Move %1 to the Trash?"),
              QStringLiteral("The file manager can put them back from the Trash, and so can Edit \u2192 Undo last "
                             "action, unless the Trash was emptied since."),
              QStringLiteral("&Move to Trash")};
    case ActionKind::HardLink:
      return {
          QStringLiteral("Replace with hard links"),
          QStringLiteral("Replace %1 with hard links to the copy that stays?"),
          QStringLiteral("Every path stays and gives the same bytes, but each then shows the copy's owner, mode and "
                         "times, and a change made through one path shows through all of them. Only files on the "
                         "copy's own file system are replaced. Edit \u2192 Undo last action makes each a separate "
                         "copy again, with its own mode and times (its owner only where you may give it)."),
          QStringLiteral("&Replace")};
    case ActionKind::SymbolicLink:
    case ActionKind::RelativeSymbolicLink:
      return {QStringLiteral("Replace with symbolic links"),
              QStringLiteral("Replace %1 with symbolic links to the copy that stays?"),
              QStringLiteral("Every path stays and leads to the copy; should the copy be moved or removed later, the "
                             "links lead nowhere. Edit \u2192 Undo last action makes each a separate copy again, with "
                             "its own mode and times, as long as the copy is still there."),
              QStringLiteral("&Replace")};
    case ActionKind::ShareBlocks:
      return {QStringLiteral("Share blocks"), QStringLiteral("Let %1 share their blocks with the copy that stays?"),
              QStringLiteral("Both files stay, each with its own name, owner and times; only their space is shared. "
                             "The kernel compares the bytes again before it shares them. This needs a file system "
                             "that can (btrfs, XFS); elsewhere the files stay as they are, with a warning. There is "
                             "nothing to undo."),
              QStringLiteral("&Share blocks")};
    case ActionKind::Move:
      return {QStringLiteral("Move to a folder"), QStringLiteral("Move %1 to another folder?"),
              QStringLiteral("Each file keeps its path below the folder it was found in: FOLDER/<that folder's "
                             "name>/<its path>. Nothing there is overwritten. Edit \u2192 Undo last action moves them "
                             "back."),
              QStringLiteral("&Move")};
  }
  return {};
}

// Each file of the plan with the copy it will be proven against: the first
// file of its group that stays.
QString PlanText(const ActPlan& plan) {
  if (!ScanContext.ResultsRoot) return {};
  const auto& groups = ScanContext.ResultsRoot->Groups;
  std::vector<std::vector<bool>> leaving(groups.size());
  for (std::size_t g = 0; g < groups.size(); ++g) leaving[g].assign(groups[g].Files.size(), false);
  for (const ActPlan::File& f : plan.Files) leaving[f.Group][f.Index] = true;
  QStringList lines;
  for (std::size_t k = 0; k < plan.Files.size() && k < ListedFiles; ++k) {
    const ActPlan::File& f = plan.Files[k];
    const SignatureGroup& group = groups[f.Group];
    std::size_t kept = 0;
    while (kept < group.Files.size() && leaving[f.Group][kept]) ++kept;
    lines << ToDisplay(group.Files[f.Index]) + QStringLiteral("\n    same bytes as ") +
                 ToDisplay(kept < group.Files.size() ? group.Files[kept] : std::string());
  }
  if (plan.Files.size() > ListedFiles) {
    lines << QStringLiteral("... and %1 more").arg(plan.Files.size() - ListedFiles);
  }
  return lines.join(QLatin1Char('\n'));
}

}  // namespace

ActionDialog::ActionDialog(ActionKind kind, const ActPlan& plan, const QString& destination, QWidget* parent)
    : QDialog(parent), kind_(kind) {
  setObjectName(kind == ActionKind::Trash ? QStringLiteral("TrashConfirmation") : QStringLiteral("ActionConfirmation"));
  const KindTexts texts = TextsOf(kind);
  setWindowTitle(texts.Title);
  auto* layout = new QVBoxLayout(this);

  const auto count = static_cast<long double>(plan.Files.size());
  const QString files = QStringLiteral("%1 ticked %2 (%3)")
                            .arg(ToDisplay(FormatCount(' ', count)), plan.Files.size() == 1 ? "file" : "files",
                                 ToDisplay(FormatSize(static_cast<long double>(plan.Bytes))));
  Question = new QLabel(texts.Question.arg(files), this);
  QFont bold = Question->font();
  bold.setBold(true);
  Question->setFont(bold);
  Question->setWordWrap(true);
  layout->addWidget(Question);

  QString details = QStringLiteral(
      "Each file is acted on only if it is still the file the scan found and its bytes equal, one by one, those of a "
      "file of its group that stays; a file that changes meanwhile is put back as it was. ");
  details += texts.Consequence;
  if (!plan.FirstKept.empty()) {
    details += QStringLiteral("\n\nEvery file of %1 %2 is ticked: the first file of each stays.")
                   .arg(plan.FirstKept.size())
                   .arg(plan.FirstKept.size() == 1 ? "group" : "groups");
  }
  Details = new QLabel(details, this);
  Details->setWordWrap(true);
  layout->addWidget(Details);

  if (kind == ActionKind::SymbolicLink || kind == ActionKind::RelativeSymbolicLink) {
    Absolute = new QRadioButton(QStringLiteral("Links to the copy's &absolute path"), this);
    Relative = new QRadioButton(QStringLiteral("Links &relative to each file's folder (they survive moving the "
                                               "whole tree)"),
                                this);
    (kind == ActionKind::RelativeSymbolicLink ? Relative : Absolute)->setChecked(true);
    layout->addWidget(Absolute);
    layout->addWidget(Relative);
  }
  if (kind == ActionKind::Move) {
    auto* row = new QHBoxLayout;
    auto* label = new QLabel(QStringLiteral("&Folder:"), this);
    Destination = new QLineEdit(destination, this);
    Destination->setObjectName(QStringLiteral("Destination"));
    label->setBuddy(Destination);
    auto* browse = new QPushButton(QStringLiteral("&Browse..."), this);
    connect(browse, &QPushButton::clicked, this, &ActionDialog::ChooseDestination);
    row->addWidget(label);
    row->addWidget(Destination, 1);
    row->addWidget(browse);
    layout->addLayout(row);
  }
  if (TakesFilesAway(kind)) {
    RemoveEmpty = new QCheckBox(QStringLiteral("Remove the folders this leaves &empty (never a listed folder)"), this);
    layout->addWidget(RemoveEmpty);
  }

  ShowFiles = new QPushButton(QStringLiteral("Show the &files"), this);
  ShowFiles->setCheckable(true);
  Files = new QPlainTextEdit(this);
  Files->setReadOnly(true);
  Files->setLineWrapMode(QPlainTextEdit::NoWrap);
  Files->setVisible(false);
  connect(ShowFiles, &QPushButton::toggled, this, [this, plan](bool shown) {
    if (shown && Files->document()->isEmpty()) Files->setPlainText(PlanText(plan));
    Files->setVisible(shown);
    adjustSize();
  });
  layout->addWidget(ShowFiles, 0, Qt::AlignLeft);
  layout->addWidget(Files, 1);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
  DryRun = buttons->addButton(QStringLiteral("&Dry run"), QDialogButtonBox::ActionRole);
  DryRun->setToolTip(QStringLiteral("Prove each file and write in the log what would be done, changing nothing"));
  Act = buttons->addButton(texts.Button, QDialogButtonBox::AcceptRole);
  buttons->button(QDialogButtonBox::Cancel)->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(DryRun, &QPushButton::clicked, this, [this] {
    dryRun_ = true;
    accept();
  });
  if (Destination != nullptr) {
    const auto check = [this] {
      Act->setEnabled(!Destination->text().trimmed().isEmpty());
      DryRun->setEnabled(Act->isEnabled());
    };
    connect(Destination, &QLineEdit::textChanged, this, check);
    check();
  }
  layout->addWidget(buttons);
  setMinimumWidth(fontMetrics().averageCharWidth() * 70);
}

void ActionDialog::ChooseDestination() {
  const QString chosen =
      QFileDialog::getExistingDirectory(this, QStringLiteral("Move the ticked files to"), Destination->text());
  if (!chosen.isEmpty()) Destination->setText(chosen);
}

TickedAction ActionDialog::Chosen() const {
  TickedAction action;
  action.Kind = kind_;
  if (Relative != nullptr)
    action.Kind = Relative->isChecked() ? ActionKind::RelativeSymbolicLink : ActionKind::SymbolicLink;
  if (Destination != nullptr) {
    action.Destination = ToBytes(QDir::cleanPath(QDir::current().absoluteFilePath(Destination->text().trimmed())));
  }
  action.RemoveEmptiedFolders = RemoveEmpty != nullptr && RemoveEmpty->isChecked();
  action.DryRun = dryRun_;
  return action;
}

}  // namespace veldrano
