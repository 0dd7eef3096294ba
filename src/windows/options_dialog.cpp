#include "windows/options_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/text_bytes.h"
#include "signature/hash_cache.h"

namespace veldrano {

namespace {

QString Lines(const std::vector<std::string>& texts) {
  QStringList lines;
  for (const std::string& text : texts) lines << ToDisplay(text);
  return lines.join(QLatin1Char('\n'));
}

std::vector<std::string> LinesOf(const QPlainTextEdit* edit) {
  std::vector<std::string> texts;
  for (const QString& line : edit->toPlainText().split(QLatin1Char('\n'))) {
    if (!line.trimmed().isEmpty()) texts.push_back(ToBytes(line));
  }
  return texts;
}

QString SizeText(const std::optional<std::uint64_t>& size) {
  return size ? QString::fromStdString(WrittenSize(*size)) : QString();
}

}  // namespace

OptionsDialog::OptionsDialog(const ScanFilters& start, bool useHashCache, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("OptionsDialog"));
  setWindowTitle(QStringLiteral("Options"));
  auto* layout = new QVBoxLayout(this);

  auto* sizes = new QGroupBox(QStringLiteral("File sizes"), this);
  auto* sizeForm = new QFormLayout(sizes);
  MinSize = new QLineEdit(SizeText(start.MinSize), sizes);
  MaxSize = new QLineEdit(SizeText(start.MaxSize), sizes);
  for (QLineEdit* edit : {MinSize, MaxSize}) {
    edit->setPlaceholderText(QStringLiteral("none (bytes, or 10k, 4M, 1G)"));
    connect(edit, &QLineEdit::textChanged, this, &OptionsDialog::Check);
  }
  sizeForm->addRow(QStringLiteral("&Smallest file scanned:"), MinSize);
  sizeForm->addRow(QStringLiteral("&Largest file scanned:"), MaxSize);
  layout->addWidget(sizes);

  auto* folders = new QGroupBox(QStringLiteral("Folders left out"), this);
  auto* folderLayout = new QVBoxLayout(folders);
  VersionControl = new QCheckBox(QStringLiteral("&Version control (.git, .hg, .svn...)"), folders);
  NodeModules = new QCheckBox(QStringLiteral("&node_modules"), folders);
  Caches = new QCheckBox(QStringLiteral("&Caches (.cache, __pycache__...)"), folders);
  auto* trash = new QCheckBox(QStringLiteral("Trash folders (always)"), folders);
  trash->setChecked(true);
  trash->setEnabled(false);
  VersionControl->setChecked(start.SkipVersionControl);
  NodeModules->setChecked(start.SkipNodeModules);
  Caches->setChecked(start.SkipCaches);
  for (QCheckBox* box : {VersionControl, NodeModules, Caches, trash}) folderLayout->addWidget(box);
  folderLayout->addWidget(new QLabel(QStringLiteral("More, one pattern a line:"), folders));
  ExcludedFolders = new QPlainTextEdit(Lines(start.ExcludedFolders), folders);
  ExcludedFolders->setPlaceholderText(QStringLiteral("build\n*/old/backup*"));
  folderLayout->addWidget(ExcludedFolders);
  layout->addWidget(folders);

  auto* files = new QGroupBox(QStringLiteral("Files left out, one pattern a line"), this);
  auto* fileLayout = new QVBoxLayout(files);
  ExcludedFiles = new QPlainTextEdit(Lines(start.ExcludedFiles), files);
  ExcludedFiles->setPlaceholderText(QStringLiteral("*.tmp\nThumbs.db"));
  fileLayout->addWidget(ExcludedFiles);
  layout->addWidget(files);
  for (QPlainTextEdit* edit : {ExcludedFolders, ExcludedFiles}) {
    edit->setToolTip(
        QStringLiteral("A shell pattern (*, ?, [...]) on the name, or on the whole path when it holds a /"));
    connect(edit, &QPlainTextEdit::textChanged, this, &OptionsDialog::Check);
  }

  RegexMode = new QCheckBox(QStringLiteral("Patterns are &regular expressions"), this);
  SkipHidden = new QCheckBox(QStringLiteral("Leave out &hidden files and folders (names beginning with \".\")"), this);
  OneFileSystem = new QCheckBox(QStringLiteral("Stay on the &file system of each listed folder"), this);
  RegexMode->setChecked(start.RegexMode);
  SkipHidden->setChecked(start.SkipHidden);
  OneFileSystem->setChecked(start.OneFileSystem);
  connect(RegexMode, &QCheckBox::toggled, this, &OptionsDialog::Check);
  for (QCheckBox* box : {RegexMode, SkipHidden, OneFileSystem}) layout->addWidget(box);

  auto* cache = new QGroupBox(QStringLiteral("Hashes kept across scans"), this);
  auto* cacheLayout = new QVBoxLayout(cache);
  UseHashCache =
      new QCheckBox(QStringLiteral("&Keep the hashes of files read, and read unchanged files no more"), cache);
  UseHashCache->setChecked(useHashCache);
  UseHashCache->setToolTip(QStringLiteral(
      "A file is unchanged when its device, inode, size, modification and change times are all the same. "
      "Files are still compared byte by byte before any is moved."));
  const std::string folder = HashCache::DefaultFolder();
  CacheLimit =
      new QLabel(ToDisplay("In " + (folder.empty() ? std::string("no folder (no home)") : folder) + ": at most " +
                           HashCache::LimitText() + ". File -> Forget cached hashes empties it."),
                 cache);
  CacheLimit->setWordWrap(true);
  cacheLayout->addWidget(UseHashCache);
  cacheLayout->addWidget(CacheLimit);
  layout->addWidget(cache);

  Problem = new QLabel(this);
  Problem->setStyleSheet(QStringLiteral("color: #c00000"));
  Problem->setWordWrap(true);
  layout->addWidget(Problem);
  Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  layout->addWidget(Buttons);
  connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  Check();
}

ScanFilters OptionsDialog::Read(std::string& problem) const {
  ScanFilters filters;
  problem.clear();
  const auto size = [&problem](const QLineEdit* edit, const char* what) -> std::optional<std::uint64_t> {
    const QString text = edit->text().trimmed();
    if (text.isEmpty() || !problem.empty()) return std::nullopt;
    std::string why;
    std::optional<std::uint64_t> parsed = ParseSize(text.toStdString(), why);
    if (!parsed) problem = std::string(what) + " \"" + text.toStdString() + "\": " + why;
    return parsed;
  };
  filters.MinSize = size(MinSize, "The smallest size");
  filters.MaxSize = size(MaxSize, "The largest size");
  filters.ExcludedFolders = LinesOf(ExcludedFolders);
  filters.ExcludedFiles = LinesOf(ExcludedFiles);
  filters.RegexMode = RegexMode->isChecked();
  filters.SkipHidden = SkipHidden->isChecked();
  filters.OneFileSystem = OneFileSystem->isChecked();
  filters.SkipVersionControl = VersionControl->isChecked();
  filters.SkipNodeModules = NodeModules->isChecked();
  filters.SkipCaches = Caches->isChecked();
  if (problem.empty()) problem = FiltersProblem(filters);
  return filters;
}

ScanFilters OptionsDialog::Chosen() const {
  std::string problem;
  return Read(problem);
}

void OptionsDialog::Check() {
  std::string problem;
  Read(problem);
  Problem->setText(ToDisplay(problem));
  Problem->setVisible(!problem.empty());
  Buttons->button(QDialogButtonBox::Ok)->setEnabled(problem.empty());
}

bool OptionsDialog::HashCacheChosen() const { return UseHashCache->isChecked(); }

}  // namespace veldrano
