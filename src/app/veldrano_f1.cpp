#include "app/veldrano_f1.h"

#include <algorithm>
#include <optional>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "app/cache_settings.h"
#include "app/filter_settings.h"
#include "app/keep_rules_settings.h"
#include "app/log_model.h"
#include "app/pictures.h"
#include "app/results_filter.h"
#include "app/results_tree_model.h"
#include "app/selection_model.h"
#include "app/text_bytes.h"
#include "app/window_settings.h"
#include "components/exceptions.h"
#include "components/layout_scale.h"
#include "components/screen_fit.h"
#include "export/csv_export.h"
#include "export/log_export.h"
#include "export/xml_export.h"
#include "report/activity_log.h"
#include "report/formatting.h"
#include "results/action_journal.h"
#include "results/ignore_list.h"
#include "results/keep_rules.h"
#include "results/reference_folders.h"
#include "results/results_model.h"
#include "results/saved_results.h"
#include "results/selection_sort.h"
#include "results/tick_rules.h"
#include "results/ticked_action.h"
#include "results/undo_action.h"
#include "scan/directory_list.h"
#include "scan/failure_report.h"
#include "scan/path_helpers.h"
#include "scan/scan_context.h"
#include "scan/scan_driver.h"
#include "scan/window_texts.h"
#include "windows/action_dialog.h"
#include "windows/duplicate_folders_view.h"
#include "windows/ignored_dialog.h"
#include "windows/keep_rules_dialog.h"
#include "windows/options_dialog.h"
#include "windows/veldrano_f2.h"
#include "windows/veldrano_f4.h"

namespace veldrano {

namespace {

constexpr int BytesRole = Qt::UserRole + 1;

const QString ReferenceToolTip = QStringLiteral(
    "A reference folder: its files may be the copy that stays, but are never ticked nor moved; "
    "groups found only inside reference folders are left out");

// The file-system bytes of a dropped file: the URL's path, percent-decoded
// as bytes, so that a name that is not UTF-8 arrives unchanged.
std::string LocalPathBytes(const QUrl& url) {
  const QByteArray path = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
  return std::string(path.constData(), static_cast<std::size_t>(path.size()));
}

QUrl FileUrl(const std::string& path) {
  return QUrl::fromEncoded("file://" +
                           QByteArray(path.data(), static_cast<qsizetype>(path.size())).toPercentEncoding("/"));
}

// The directory part of a path: everything before its last "/", or "/"
// itself for a file at the root.
std::string DirectoryPart(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// A report list over model: whole rows selected one at a time, one line a
// row of rowHeight pixels, no row numbers.
QTableView* ReportView(QWidget* parent, const QString& name, QAbstractItemModel* model, int rowHeight) {
  auto* view = new QTableView(parent);
  view->setObjectName(name);
  view->setModel(model);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setSelectionMode(QAbstractItemView::SingleSelection);
  view->setWordWrap(false);
  view->verticalHeader()->hide();
  view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view->verticalHeader()->setDefaultSectionSize(rowHeight);
  view->horizontalHeader()->setStretchLastSection(true);
  // A path too long for its column loses its middle, so that the file's
  // name stays in sight (the whole text is in the tool tip).
  view->setTextElideMode(Qt::ElideMiddle);
  return view;
}

QToolButton* PictureButton(QWidget* parent, const QString& name, const QIcon& picture, const QString& hint, int size) {
  auto* button = new QToolButton(parent);
  button->setObjectName(name);
  button->setIcon(picture);
  button->setIconSize(QSize(size - 8, size - 8));
  button->setFixedSize(size, size);
  button->setAutoRaise(false);
  if (!hint.isEmpty()) button->setToolTip(hint);
  return button;
}

}  // namespace

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("VELDRANO"));
  QFont small = font();  // the window's 8-point font, in the desktop's family
  small.setPointSize(8);
  setFont(small);
  unsaved_ = new UnsavedWork(this);
  BuildLayout();
  BuildMenus();
  ScanContext.UseHashCache = true;  // until the session says the user turned it off

  Exceptions1 = new TExceptions(this);
  Exceptions1->setObjectName(QStringLiteral("Exceptions1"));
  Exceptions1->AfficheMessage = false;
  Exceptions1->TermineSiErreur = false;
  Exceptions1->OnException = [this](QObject* sender, const QString& info) { Exceptions1Exception(sender, info); };

  // What the window does when it is created.
  sbStart->setEnabled(true);
  sbStop->setEnabled(false);
  sbReset->setEnabled(false);
  sbPin->setChecked(true);
  sbPinClick();
  SetProgressBarsVisible(false);
  ScanContext.ResultsRoot.reset();  // a new window shows no results: no rows either
  ScanContext.Selection.clear();
  LogFirstReadyLine();
  SetStatusText(3, ReadyText);
  SetStatusText(2, "");
  SetStatusText(1, "");
  setAcceptDrops(true);

  pumpClock_.start();
  Timer1 = new QTimer(this);
  Timer1->setInterval(250);
  connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
  Timer1->start();
}

TForm1::~TForm1() = default;

int TForm1::Scaled(int pixels) const { return ScaledPixels(pixels, LayoutScale(this)); }

void TForm1::BuildLayout() {
  auto* central = new QWidget(this);
  auto* outer = new QVBoxLayout(central);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);

  // The top strip with the three buttons, the caption and the pin.
  PanelHaut = new QFrame(central);
  PanelHaut->setObjectName(QStringLiteral("PanelHaut"));
  PanelHaut->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  PanelHaut->setFixedHeight(Scaled(42));
  auto* top = new QHBoxLayout(PanelHaut);
  // The pin keeps its distance from the right edge as the window is resized.
  top->setContentsMargins(Scaled(8), Scaled(4), Scaled(67), Scaled(3));
  top->setSpacing(Scaled(17));
  sbStart = PictureButton(PanelHaut, QStringLiteral("sbStart"), StartPicture(), QStringLiteral("Start"), Scaled(35));
  sbStop = PictureButton(PanelHaut, QStringLiteral("sbStop"), StopPicture(), QStringLiteral("Stop"), Scaled(35));
  sbReset = PictureButton(PanelHaut, QStringLiteral("sbReset"), ClearPicture(), QStringLiteral("Clear"), Scaled(35));
  PanelHautCaption = new QLabel(QString::fromUtf8(IdleCaption), PanelHaut);
  QFont bold = PanelHautCaption->font();
  bold.setBold(true);
  PanelHautCaption->setFont(bold);
  PanelHautCaption->setAlignment(Qt::AlignCenter);
  // Keys for the two buttons used most: F5 starts, Escape stops.
  sbStart->setShortcut(QKeySequence(Qt::Key_F5));
  sbStop->setShortcut(QKeySequence(Qt::Key_Escape));
  sbPin = PictureButton(PanelHaut, QStringLiteral("sbPin"), PinPicture(),
                        QStringLiteral("Keep the window above the others"), Scaled(20));
  sbPin->setCheckable(true);
  top->addWidget(sbStart);
  top->addWidget(sbStop);
  top->addWidget(sbReset);
  top->addWidget(PanelHautCaption, 1);
  top->addWidget(sbPin, 0, Qt::AlignVCenter);
  outer->addWidget(PanelHaut);
  connect(sbStart, &QToolButton::clicked, this, &TForm1::sbStartClick);
  connect(sbStop, &QToolButton::clicked, this, &TForm1::sbStopClick);
  connect(sbReset, &QToolButton::clicked, this, &TForm1::sbResetClick);
  connect(sbPin, &QToolButton::clicked, this, &TForm1::sbPinClick);

  // Left: the directory list, the selection list and the log; right: the tree.
  Splitter3 = new QSplitter(Qt::Horizontal, central);
  Splitter3->setObjectName(QStringLiteral("Splitter3"));
  Splitter3->setHandleWidth(Scaled(10));
  auto* PanelGauche = new QWidget(Splitter3);
  auto* left = new QVBoxLayout(PanelGauche);
  left->setContentsMargins(0, 0, 0, 0);
  left->setSpacing(0);

  Lista = new QTreeWidget(PanelGauche);
  Lista->setObjectName(QStringLiteral("Lista"));
  Lista->setColumnCount(2);
  Lista->setHeaderLabels({QStringLiteral("Directories to scan"), QStringLiteral("Reference")});
  Lista->header()->setSectionsClickable(false);
  Lista->header()->setStretchLastSection(false);
  Lista->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  Lista->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  Lista->headerItem()->setToolTip(1, ReferenceToolTip);
  Lista->setSelectionMode(QAbstractItemView::ExtendedSelection);
  ScanContext.ReferenceFolders.clear();  // as the list: empty
  Lista->setRootIsDecorated(false);
  Lista->setToolTip(QStringLiteral("Drag'n drop directories here"));
  Lista->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
  // A row edited down to nothing names no directory: it goes (walked, an
  // empty name would be the whole file system from "/").
  connect(Lista, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item) {
    SyncReferenceFolders();
    if (!item->text(0).trimmed().isEmpty()) return;
    QMetaObject::invokeMethod(
        this,
        [this, item] {
          delete item;
          sbReset->setEnabled(sbStart->isEnabled() && Lista->topLevelItemCount() > 0);
        },
        Qt::QueuedConnection);
  });
  // 88 pixels, giving way down to its header and one row in a small window.
  Lista->setMaximumHeight(Scaled(88));
  Lista->setMinimumHeight(Lista->header()->sizeHint().height() + fontMetrics().height() + Scaled(10));
  // Folders without drag and drop: a button beside the list adds one; Delete
  // or the row's menu removes one.
  sbAdd = new QToolButton(PanelGauche);
  sbAdd->setObjectName(QStringLiteral("sbAdd"));
  sbAdd->setText(QStringLiteral("+"));
  sbAdd->setToolTip(QStringLiteral("Add a directory"));
  sbAdd->setFixedSize(Scaled(24), Scaled(24));
  connect(sbAdd, &QToolButton::clicked, this, &TForm1::AddDirectoryClick);
  new QShortcut(QKeySequence(QKeySequence::Delete), Lista, this, &TForm1::RemoveDirectoryClick, Qt::WidgetShortcut);
  Lista->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(Lista, &QTreeWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    QTreeWidgetItem* row = Lista->itemAt(at);
    if (row != nullptr) Lista->setCurrentItem(row);
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(QStringLiteral("&Add directory..."), this, &TForm1::AddDirectoryClick)
        ->setEnabled(sbStart->isEnabled());
    menu->addAction(QStringLiteral("&Remove"), this, &TForm1::RemoveDirectoryClick)
        ->setEnabled(row != nullptr && sbStart->isEnabled());
    // Every highlighted row at once: all become reference folders, or, when
    // they all are, none.
    const QList<QTreeWidgetItem*> rows = Lista->selectedItems();
    const bool allReference = !rows.isEmpty() && std::ranges::all_of(rows, [](const QTreeWidgetItem* item) {
      return item->checkState(1) == Qt::Checked;
    });
    QAction* reference = menu->addAction(QStringLiteral("Re&ference folder"), this, [this, rows, allReference] {
      for (QTreeWidgetItem* item : rows) item->setCheckState(1, allReference ? Qt::Unchecked : Qt::Checked);
    });
    reference->setCheckable(true);
    reference->setChecked(allReference);
    reference->setEnabled(!rows.isEmpty() && sbStart->isEnabled());
    reference->setToolTip(ReferenceToolTip);
    menu->popup(Lista->viewport()->mapToGlobal(at));
  });
  auto* listRow = new QHBoxLayout;
  listRow->setContentsMargins(0, 0, 0, 0);
  listRow->setSpacing(Scaled(2));
  listRow->addWidget(Lista, 1);
  listRow->addWidget(sbAdd, 0, Qt::AlignTop);
  left->addLayout(listRow);
  // What the ticks add up to, in sight at every change.
  // Beside it, the search field over the results.
  auto* aboveList = new QHBoxLayout;
  aboveList->setContentsMargins(0, Scaled(2), 0, Scaled(2));
  edSearch = new QLineEdit(PanelGauche);
  edSearch->setObjectName(QStringLiteral("edSearch"));
  edSearch->setPlaceholderText(QStringLiteral("Search the paths (text, or a pattern such as */Backup/*)"));
  edSearch->setClearButtonEnabled(true);
  edSearch->setToolTip(
      QStringLiteral("Shows only the files whose paths hold the text, or match the pattern; "
                     "the results and their ticks stay as they are"));
  aboveList->addWidget(edSearch, 1);
  lblTicked = new QLabel(PanelGauche);
  lblTicked->setObjectName(QStringLiteral("lblTicked"));
  lblTicked->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  lblTicked->setContentsMargins(Scaled(8), 0, Scaled(4), 0);
  aboveList->addWidget(lblTicked);
  left->addLayout(aboveList);

  Splitter1 = new QSplitter(Qt::Vertical, PanelGauche);
  Splitter1->setObjectName(QStringLiteral("Splitter1"));
  Splitter1->setHandleWidth(Scaled(10));
  selectionModel = new SelectionModel(this);
  lvSelection =
      ReportView(Splitter1, QStringLiteral("lvSelection"), selectionModel, fontMetrics().height() + Scaled(4));
  lvSelection->setShowGrid(true);
  // 250 pixels, or what a signature and its check box need in this font: a
  // signature is 32 hexadecimal digits drawn at random, as wide as these,
  // and the Path column takes what is left (FitSelectionColumns).
  signatureWidth_ = std::max(
      Scaled(250), fontMetrics().horizontalAdvance(QStringLiteral("0123456789ABCDEF0123456789ABCDEF")) + Scaled(40));
  md5Width_ = signatureWidth_;
  lvSelection->horizontalHeader()->resizeSection(0, md5Width_);
  lvSelection->horizontalHeader()->resizeSection(1, Scaled(75));
  lvSelection->horizontalHeader()->setSectionsClickable(true);
  // However small the window, two rows stay in sight below the header, with
  // the scroll bar a long path brings.
  lvSelection->setMinimumHeight(
      lvSelection->horizontalHeader()->sizeHint().height() + 2 * lvSelection->verticalHeader()->defaultSectionSize() +
      lvSelection->horizontalScrollBar()->sizeHint().height() + 2 * lvSelection->frameWidth());
  connect(lvSelection->horizontalHeader(), &QHeaderView::sectionClicked, this, &TForm1::lvSelectionColumnClick);
  // Recounted at most every 100 ms: a scan adds rows one by one.
  tickedRecount_ = new QTimer(this);
  tickedRecount_->setSingleShot(true);
  tickedRecount_->setInterval(100);
  connect(tickedRecount_, &QTimer::timeout, this, &TForm1::ShowTickedCount);
  const auto recount = [this] {
    if (!tickedRecount_->isActive()) tickedRecount_->start();
  };
  connect(selectionModel, &QAbstractItemModel::dataChanged, this, recount);
  connect(selectionModel, &QAbstractItemModel::dataChanged, this,
          [this](const QModelIndex&, const QModelIndex&, const QList<int>& roles) {
            if (roles.contains(Qt::CheckStateRole)) unsaved_->TicksChanged();
          });
  connect(selectionModel, &QAbstractItemModel::modelReset, this, recount);
  connect(selectionModel, &QAbstractItemModel::rowsInserted, this, recount);
  ShowTickedCount();
  // Watched on the viewport rather than through doubleClicked, which a
  // double-click on a check box never gives (see eventFilter).
  lvSelection->viewport()->installEventFilter(this);

  // The log sits in its own sunken pane, which the window keeps from being
  // pushed down onto the status bar (PanelBasResize).
  PanelBas = new QFrame(Splitter1);
  PanelBas->setObjectName(QStringLiteral("PanelBas"));
  PanelBas->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  auto* bottom = new QVBoxLayout(PanelBas);
  bottom->setContentsMargins(1, 1, 1, 1);
  logModel = new LogModel(this);
  lvLog =
      ReportView(PanelBas, QStringLiteral("lvLog"), logModel, std::max(fontMetrics().height(), Scaled(16)) + Scaled(4));
  bottom->addWidget(lvLog);
  lvLog->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvLog->setShowGrid(false);
  lvLog->horizontalHeader()->setSectionsClickable(false);
  lvLog->horizontalHeader()->resizeSection(0, Scaled(100));
  lvLog->setIconSize(QSize(Scaled(16), Scaled(16)));
  connect(lvLog, &QTableView::doubleClicked, this, [this] { lvLogDblClick(); });

  Splitter1->addWidget(lvSelection);
  Splitter1->addWidget(PanelBas);
  PanelBas->installEventFilter(this);
  Splitter1->setSizes({Scaled(165), Scaled(200)});
  left->addWidget(Splitter1, 1);

  treeModel = new ResultsTreeModel(this);
  // The tree of groups, and beside it the folders whose files all have a
  // copy elsewhere.
  auto* resultTabs = new QTabWidget(Splitter3);
  resultTabs->setObjectName(QStringLiteral("ResultTabs"));
  TreeView1 = new QTreeView(resultTabs);
  TreeView1->setObjectName(QStringLiteral("TreeView1"));
  TreeView1->setModel(treeModel);
  new ResultsFilter(edSearch, lvSelection, selectionModel, TreeView1, treeModel, this);
  TreeView1->setHeaderHidden(true);
  TreeView1->setIndentation(Scaled(19));
  TreeView1->setUniformRowHeights(true);
  TreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  TreeView1->setContextMenuPolicy(Qt::CustomContextMenu);
  // Paths are long and the pane is narrow: the column is as wide as the
  // longest row shown, and the pane scrolls sideways to it.
  TreeView1->header()->setStretchLastSection(false);
  TreeView1->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  connect(TreeView1, &QTreeView::expanded, this, &TForm1::FitTreeColumnSoon);
  connect(TreeView1, &QTreeView::collapsed, this, &TForm1::FitTreeColumnSoon);
  connect(TreeView1, &QTreeView::customContextMenuRequested, this, &TForm1::pmTreePopup);

  // In a narrow window the tree gives way before the lists become unusable.
  PanelGauche->setMinimumWidth(Scaled(240));
  Splitter3->addWidget(PanelGauche);
  foldersView = new DuplicateFoldersView(resultTabs);
  connect(foldersView, &DuplicateFoldersView::SearchFor, edSearch, &QLineEdit::setText);
  resultTabs->addTab(TreeView1, QStringLiteral("Groups"));
  resultTabs->addTab(foldersView, QStringLiteral("Folders"));
  Splitter3->addWidget(resultTabs);
  Splitter3->setStretchFactor(0, 1);
  Splitter3->setStretchFactor(1, 0);
  Splitter3->setSizes({Scaled(979 - 318 - 10), Scaled(318)});
  outer->addWidget(Splitter3, 1);

  ProgressBar1 = new QProgressBar(central);
  ProgressBar2 = new QProgressBar(central);
  for (QProgressBar* bar : {ProgressBar1, ProgressBar2}) {
    bar->setRange(0, 100);
    bar->setTextVisible(false);
    bar->setFixedHeight(Scaled(12));
    outer->addWidget(bar);
  }
  ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar2->setObjectName(QStringLiteral("ProgressBar2"));
  setCentralWidget(central);

  const int widths[] = {200, 175, 50};
  for (int panel = 0; panel < 4; ++panel) {
    StatusPanels[panel] = new QLabel(this);
    if (panel < 3) {
      StatusPanels[panel]->setFixedWidth(Scaled(widths[panel]));
      StatusPanels[panel]->setAlignment(Qt::AlignCenter);
    }
    statusBar()->addWidget(StatusPanels[panel], panel < 3 ? 0 : 1);
  }
  statusBar()->setSizeGripEnabled(true);
  statusBar()->setFixedHeight(std::max(Scaled(19), fontMetrics().height() + Scaled(4)));
  statusBar()->setObjectName(QStringLiteral("StatusBar1"));

  resize(Scaled(979), Scaled(563));
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  FitIntoScreen(this);  // a small or magnified screen: title bar, menus and Start stay in sight
}

void TForm1::BuildMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  AddDirectory1 = file->addAction(QStringLiteral("&Add directory..."), this, &TForm1::AddDirectoryClick);
  connect(file, &QMenu::aboutToShow, this, [this] { AddDirectory1->setEnabled(sbStart->isEnabled()); });
  QAction* forget = file->addAction(QStringLiteral("&Forget cached hashes"), this, &TForm1::ForgetHashesClick);
  forget->setToolTip(QStringLiteral("Empties the cache of hashes: the next scan reads every file again"));
  connect(file, &QMenu::aboutToShow, this, [this, forget] { forget->setEnabled(sbStart->isEnabled()); });
  file->addSeparator();
  QAction* open = file->addAction(QStringLiteral("&Open results..."), this, &TForm1::OpenResultsClick);
  QAction* save = file->addAction(QStringLiteral("&Save results..."), this, &TForm1::SaveResultsClick);
  QAction* saveLog = file->addAction(QStringLiteral("Save &log..."), this, &TForm1::SaveLogClick);
  open->setShortcut(QKeySequence::Open);
  save->setShortcut(QKeySequence::Save);
  connect(file, &QMenu::aboutToShow, this, [this, open, save, saveLog] {
    open->setEnabled(!ScanContext.Busy);
    save->setEnabled(!ScanContext.Busy && selectionModel->rowCount() > 0);
    saveLog->setEnabled(!ScanContext.Busy && logModel->rowCount() > 0);
  });
  file->addSeparator();
  file->addAction(QStringLiteral("&Quit"), this, &TForm1::Quit1Click);

  QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
  UndoLast1 = edit->addAction(QIcon::fromTheme(QStringLiteral("edit-undo")), QStringLiteral("&Undo last action..."),
                              this, &TForm1::UndoLastClick);
  UndoLast1->setObjectName(QStringLiteral("UndoLast1"));
  connect(edit, &QMenu::aboutToShow, this, [this] { UndoLast1->setEnabled(!ScanContext.Busy); });

  Action1 = menuBar()->addMenu(QStringLiteral("&Action"));
  Action1->setObjectName(QStringLiteral("Action1"));
  Export2CSV = Action1->addMenu(QStringLiteral("Export to &CSV"));
  Export_CSV_All = Export2CSV->addAction(QStringLiteral("&All files"), this, &TForm1::Export_CSV_AllClick);
  Export_CSV_Selected =
      Export2CSV->addAction(QStringLiteral("&Only selected files"), this, &TForm1::Export_CSV_SelectedClick);
  Action1->addSeparator();
  Export2XML = Action1->addAction(QStringLiteral("Export to &XML"), this, &TForm1::Export2XMLClick);
  Action1->addSeparator();
  MoveToTrash1 = Action1->addAction(QIcon::fromTheme(QStringLiteral("user-trash")),
                                    QStringLiteral("Move ticked files to &Trash..."), this, &TForm1::MoveToTrashClick);
  // Delete in the list or the tree; shown beside the menu item.
  MoveToTrash1->setShortcut(QKeySequence(QKeySequence::Delete));
  MoveToTrash1->setShortcutContext(Qt::WidgetShortcut);
  for (QWidget* view : {static_cast<QWidget*>(lvSelection), static_cast<QWidget*>(TreeView1)}) {
    new QShortcut(QKeySequence(QKeySequence::Delete), view, this, &TForm1::MoveToTrashClick, Qt::WidgetShortcut);
  }
  const auto addAction = [this](const QString& text, ActionKind kind) {
    return Action1->addAction(text, this, [this, kind] { ActOnTickedClick(kind); });
  };
  HardLinks1 = addAction(QStringLiteral("Replace ticked files with &hard links..."), ActionKind::HardLink);
  SymbolicLinks1 = addAction(QStringLiteral("Replace ticked files with s&ymbolic links..."), ActionKind::SymbolicLink);
  ShareBlocks1 =
      addAction(QStringLiteral("&Share blocks of ticked files with their copies..."), ActionKind::ShareBlocks);
  MoveToFolder1 = addAction(QStringLiteral("Move ticked files to a &folder..."), ActionKind::Move);
  connect(Action1, &QMenu::aboutToShow, this, &TForm1::Action1Click);
  trashSeparator_ = new QAction(this);
  trashSeparator_->setSeparator(true);

  pmSelection = menuBar()->addMenu(QStringLiteral("&Selection"));
  pmSelection->setObjectName(QStringLiteral("pmSelection"));
  const auto addRule = [this](const QString& text, std::function<void()> rule) {
    return pmSelection->addAction(text, this, [this, rule] { ApplyTickRule(rule); });
  };
  addRule(QStringLiteral("Tick all but the fi&rst of each group"), [] { TickAllButFirst(); });
  addRule(QStringLiteral("Tick all but the ol&dest of each group"), [] { TickAllButOldest(); });
  addRule(QStringLiteral("Tick all but the ne&west of each group"), [] { TickAllButNewest(); });
  pmSelection->addAction(QStringLiteral("&Choose the copy to keep..."), this, &TForm1::ChooseKeptClick)
      ->setObjectName(QStringLiteral("ChooseKept"));
  pmSelection->addSeparator();
  const auto folderRule = [this](bool ticked) {
    return [this, ticked] {
      const QModelIndex current = lvSelection->currentIndex();
      if (current.isValid()) {
        TickFolderOf(PathOf(ScanContext.Selection[static_cast<std::size_t>(current.row())]), ticked);
      }
    };
  };
  addRule(QStringLiteral("Tick &every file in this folder"), folderRule(true))->setObjectName("TickFolder");
  addRule(QStringLiteral("Untick e&very file in this folder"), folderRule(false))->setObjectName("UntickFolder");
  pmSelection->addSeparator();
  addRule(QStringLiteral("&Untick all"), [] { UntickAll(); });
  addRule(QStringLiteral("&Invert the ticks"), [] { InvertTicks(); });
  connect(pmSelection, &QMenu::aboutToShow, this, &TForm1::pmSelectionPopup);
  lvSelection->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(lvSelection, &QTableView::customContextMenuRequested, this, &TForm1::lvSelectionPopup);
  // Enter on a row does what a double-click on it does.
  for (const int key : {Qt::Key_Return, Qt::Key_Enter}) {
    new QShortcut(QKeySequence(key), lvSelection, this, &TForm1::lvSelectionDblClick, Qt::WidgetShortcut);
  }

  QMenu* tools = menuBar()->addMenu(QStringLiteral("&Tools"));
  tools->addAction(QStringLiteral("&Options..."), this, &TForm1::OptionsClick)
      ->setObjectName(QStringLiteral("Options"));
  tools->addAction(QStringLiteral("&Ignored..."), this, &TForm1::IgnoredClick);
  tools->addAction(QStringLiteral("&Memory"), this, &TForm1::Memory1Click);
  tools->addAction(QStringLiteral("&About"), this, &TForm1::About1Click);

  pmTree = new QMenu(this);
  Expandallnodes = pmTree->addAction(QStringLiteral("&Expand all nodes"), this, &TForm1::ExpandallnodesClick);
  Collapseallnodes = pmTree->addAction(QStringLiteral("&Collapse all nodes"), this, &TForm1::CollapseallnodesClick);
}

void TForm1::SetAuxiliaryWindows(TForm4* about, TForm2* memory) {
  about_ = about;
  memory_ = memory;
}

// ---- What the engine shows -------------------------------------------------

void TForm1::SetStatusText(int panel, std::string_view text) {
  if (panel >= 0 && panel < 4) StatusPanels[panel]->setText(ToDisplay(text));
}

// A progress bar repaints itself at once whenever its value changes. The
// positions are therefore kept here and handed to the bars when the window
// next runs its events, which is when anything could be seen of them.
void TForm1::SetOverallProgress(int position) { barPositions_[0] = std::clamp(position, 0, 100); }

void TForm1::SetFileProgress(int position) { barPositions_[1] = std::clamp(position, 0, 100); }

void TForm1::ShowProgress() {
  // Painted with the rest of the window, not on its own ahead of it.
  QProgressBar* bars[] = {ProgressBar1, ProgressBar2};
  for (int i = 0; i < 2; ++i) {
    if (bars[i]->value() == barPositions_[i]) continue;
    bars[i]->setUpdatesEnabled(false);
    bars[i]->setValue(barPositions_[i]);
    bars[i]->setUpdatesEnabled(true);  // asks for a repaint in the next paint
  }
}

void TForm1::AppendLogRow(const LogRow& row) {
  logModel->Append(row);
  // Information and Name widen to the longest entry so far; Comment takes
  // the rest. Only the new row is measured, so a long log costs no more.
  QHeaderView* header = lvLog->horizontalHeader();
  for (const int column : {1, 2}) {
    const int wanted = lvLog->sizeHintForIndex(logModel->index(logModel->rowCount() - 1, column)).width();
    if (wanted > header->sectionSize(column)) header->resizeSection(column, wanted);
  }
  lvLog->scrollToBottom();
}

void TForm1::SetTopCaption(std::string_view text) { PanelHautCaption->setText(ToDisplay(text)); }

void TForm1::SetProgressBarsVisible(bool visible) {
  ShowProgress();
  ProgressBar1->setVisible(visible);
  ProgressBar2->setVisible(visible);
}

void TForm1::SetButtonEnabled(Button button, bool enabled) {
  switch (button) {
    case Button::Start: sbStart->setEnabled(enabled); break;
    case Button::Stop: sbStop->setEnabled(enabled); break;
    case Button::Reset: sbReset->setEnabled(enabled); break;
  }
}

int TForm1::DirectoryCount() { return Lista->topLevelItemCount(); }

std::string TForm1::Directory(int index) {
  const QTreeWidgetItem* item = Lista->topLevelItem(index);
  if (item == nullptr) return {};
  // The bytes as dropped, unless the user has edited the caption since.
  const QByteArray bytes = item->data(0, BytesRole).toByteArray();
  const std::string dropped(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  return item->text(0) == ToDisplay(dropped) ? dropped : ToBytes(item->text(0));
}

void TForm1::ClearDirectories() {
  Lista->clear();
  SyncReferenceFolders();
}

void TForm1::SyncReferenceFolders() {
  std::vector<std::string> folders;
  for (int i = 0; i < DirectoryCount(); ++i) {
    if (Lista->topLevelItem(i)->checkState(1) == Qt::Checked) folders.push_back(EnsureTrailingBackslash(Directory(i)));
  }
  if (folders == ScanContext.ReferenceFolders) return;
  ScanContext.ReferenceFolders = std::move(folders);
  // A tick never holds on a file of a reference folder.
  bool unticked = false;
  for (SelectionRow& row : ScanContext.Selection) {
    if (row.Checked && InReferenceFolder(PathOf(row))) {
      row.Checked = false;
      unticked = true;
    }
  }
  if (unticked) selectionModel->ChecksChanged();
  selectionModel->ReferencesChanged();
}

void TForm1::ShowTickedCount() {
  const TickedTotals ticked = CountTicked();
  lblTicked->setText(QStringLiteral("Ticked: %1 %2, %3")
                         .arg(ToDisplay(FormatCount(' ', static_cast<long double>(ticked.Files))),
                              ticked.Files == 1 ? QStringLiteral("file") : QStringLiteral("files"),
                              ToDisplay(FormatSize(ticked.Bytes))));
}

void TForm1::ClearLog() {
  logModel->Clear();
  // The columns start again from their headers' width.
  for (const int column : {1, 2}) lvLog->resizeColumnToContents(column);
}

void TForm1::ResultsCleared() {
  unsaved_->TicksSettled();
  lvSelection->horizontalHeader()->setSortIndicatorShown(false);  // an empty list is in no order yet
  selectionModel->Reload();
  treeModel->Reload();
  foldersView->Reload();
}

void TForm1::ResultsReplaced() {
  unsaved_->TicksSettled();  // acted on, or other results
  selectionModel->Reload();
  treeModel->Reload();
  foldersView->Reload();
  TreeView1->expand(treeModel->RootIndex());
  FitTreeColumnSoon();
}

void TForm1::ResultsRootCreated() {
  treeModel->RootCreated();
  TreeView1->viewport()->update();
}

void TForm1::DuplicateRecorded(std::uint32_t group, bool newGroup) {
  treeModel->DuplicateRecorded(static_cast<int>(group), newGroup);
  selectionModel->Appended();
  if (newGroup) TreeView1->expand(treeModel->RootIndex());
}

bool TForm1::ProcessMessages() {
  // The engine asks many times a millisecond. Letting the window run every
  // 50 ms keeps it repainting 20 times a second and a click on Stop answered
  // well within a tenth of a second, without spending the scan's time on
  // empty event queues and repaints nobody can see.
  const qint64 now = pumpClock_.elapsed();
  if (now - lastPump_ < 50) return false;
  lastPump_ = now;
  ShowProgress();
  QCoreApplication::processEvents();
  return true;
}

// ---- Handlers -------------------------------------------------------------

void TForm1::sbStartClick() {
  if (!ScanContext.Busy &&
      !unsaved_->MayGoOn(
          UnsavedWork::Moment::Start, [this] { return SaveResultsClick(); }, [this] { return SaveLogClick(); })) {
    return;
  }
  veldrano::sbStartClick();
  foldersView->Reload();
  // Once the user has said which copies stay, each scan ticks by it.
  const KeepRulesSettings keep = LoadKeepRulesSettings();
  if (keep.AfterEveryScan && ScanContext.ResultsRoot && !ScanContext.ResultsRoot->Groups.empty()) {
    ApplyTickRule([&keep] { TickByKeepRules(keep.Rules); });
    AddLogEntry(LogInfo, "Ticked by the rules of \"Choose the copy to keep\"", "", WriteKeepRules(keep.Rules));
  }
  unsaved_->TicksSettled();  // what a scan ticks by itself loses nothing
}

void TForm1::OptionsClick() {
  if (ScanContext.Busy) return;  // a run's filters stay as they were at its start
  OptionsDialog dialog(ScanContext.Filters, ScanContext.UseHashCache, this);
  if (dialog.exec() != QDialog::Accepted) return;
  ScanContext.Filters = dialog.Chosen();
  ScanContext.UseHashCache = dialog.HashCacheChosen();
  if (rememberSession_) {
    SaveScanFilters(ScanContext.Filters);
    SaveUseHashCache(ScanContext.UseHashCache);
  }
}

void TForm1::ForgetHashesClick() {
  if (ScanContext.Busy) return;  // a run holds the cache open
  const std::string folder = HashCache::DefaultFolder();
  std::string why;
  if (HashCache::Forget(folder, why)) {
    AddLogEntry(LogInfo, "Cached hashes forgotten", folder);
  } else {
    AddLogEntry(LogWarning, "Cached hashes not forgotten", folder, why);
  }
}

void TForm1::ChooseKeptClick() {
  if (ScanContext.Busy) return;
  std::vector<std::string> folders;
  for (int i = 0; i < DirectoryCount(); ++i) folders.push_back(EnsureTrailingBackslash(Directory(i)));
  std::optional<std::uint32_t> group;
  if (const QModelIndex row = lvSelection->currentIndex();
      row.isValid() && row.row() < static_cast<int>(ScanContext.Selection.size())) {
    group = ScanContext.Selection[static_cast<std::size_t>(row.row())].Group;
  }
  KeepRulesDialog dialog(LoadKeepRulesSettings(), std::move(folders), group, this);
  if (dialog.exec() != QDialog::Accepted) return;
  const KeepRulesSettings chosen = dialog.Chosen();
  SaveKeepRulesSettings(chosen);
  ApplyTickRule([&chosen] { TickByKeepRules(chosen.Rules); });
}

void TForm1::sbStopClick() { veldrano::sbStopClick(); }

void TForm1::sbResetClick() {
  if (!unsaved_->MayGoOn(
          UnsavedWork::Moment::Clear, [this] { return SaveResultsClick(); }, [this] { return SaveLogClick(); })) {
    return;
  }
  veldrano::sbResetClick();
}

void TForm1::sbPinClick() {
  const bool pinned = sbPin->isChecked();
  if (pinned == bool(windowFlags() & Qt::WindowStaysOnTopHint)) return;
  const bool wasVisible = isVisible();
  setWindowFlag(Qt::WindowStaysOnTopHint, pinned);
  if (wasVisible) show();  // changing the flag hides the window
}

void TForm1::Timer1Timer() {
  sbStart->setEnabled(!ScanContext.Busy);
  sbStop->setEnabled(ScanContext.Busy);
  sbReset->setEnabled(sbStart->isEnabled() && Lista->topLevelItemCount() > 0);
}

void TForm1::Action1Click() {
  Export2CSV->setEnabled(selectionModel->rowCount() > 0 && !ScanContext.Busy);
  Export2XML->setEnabled(treeModel->NodeCount() >= 2 && !ScanContext.Busy);
  // Something ticked always leaves something to move: a group keeps only
  // one file, and has two at least.
  const bool ticked = !ScanContext.Busy && std::ranges::any_of(ScanContext.Selection, &SelectionRow::Checked);
  for (QAction* act : {MoveToTrash1, HardLinks1, SymbolicLinks1, ShareBlocks1, MoveToFolder1}) act->setEnabled(ticked);
}

void TForm1::MoveToTrashClick() { ActOnTickedClick(ActionKind::Trash); }

void TForm1::ActOnTickedClick(ActionKind kind) {
  if (ScanContext.Busy) return;
  const ActPlan plan = PlanTicked();
  if (plan.Files.empty()) return;
  ActionDialog ask(kind, plan, lastMoveDirectory_, this);
  if (ask.exec() != QDialog::Accepted) return;
  const TickedAction action = ask.Chosen();
  if (action.Kind == ActionKind::Move) lastMoveDirectory_ = ToDisplay(action.Destination);
  if (ActOnTicked(plan, action).Done > 0 && !action.DryRun) unsaved_->LogRecordsActs();
}

void TForm1::UndoLastClick() {
  if (ScanContext.Busy) return;
  std::string problem;
  const std::string journal = LastJournalToUndo(problem);
  if (journal.empty()) {
    QMessageBox::information(this, QStringLiteral("Undo last action"),
                             problem.empty() ? QStringLiteral("No action is left to undo.")
                                             : QStringLiteral("No action can be undone: %1").arg(ToDisplay(problem)));
    return;
  }
  std::vector<JournalEntry> entries;
  ReadJournal(journal, entries, problem);
  const auto left = std::ranges::count_if(entries, [](const JournalEntry& e) { return !e.Undone; });
  const std::string& kind = entries.empty() ? std::string() : entries.front().Action;
  const QString done = kind == "trash"           ? QStringLiteral("moved to the Trash")
                       : kind == "hard-link"     ? QStringLiteral("replaced with hard links")
                       : kind == "symbolic-link" ? QStringLiteral("replaced with symbolic links")
                                                 : QStringLiteral("moved to another folder");
  const QDateTime when = QDateTime::fromSecsSinceEpoch(entries.empty() ? 0 : entries.front().Time);
  QMessageBox ask(QMessageBox::Question, QStringLiteral("Undo last action"),
                  QStringLiteral("Put back the %1 %2 %3 on %4?")
                      .arg(left)
                      .arg(left == 1 ? "file" : "files", done, QLocale().toString(when, QLocale::ShortFormat)),
                  QMessageBox::Cancel, this);
  ask.setObjectName(QStringLiteral("UndoConfirmation"));
  ask.setInformativeText(
      QStringLiteral("Files in the Trash go back to their places, links become separate copies again with their own "
                     "mode and times, moved files move back; nothing that is at their places now is overwritten. "
                     "Start a new scan to see them in the results again.\n\nJournal: %1")
          .arg(ToDisplay(journal)));
  QPushButton* putBack = ask.addButton(QStringLiteral("&Put back"), QMessageBox::AcceptRole);
  ask.setDefaultButton(QMessageBox::Cancel);
  ask.exec();
  if (ask.clickedButton() != putBack) return;
  if (UndoJournal(journal).PutBack > 0) unsaved_->LogRecordsActs();
}

bool TForm1::SaveResultsClick() {
  bool saved = false;
  ExportThroughDialog(QStringLiteral("Saved results (*.veldrano)"), QStringLiteral("veldrano"),
                      [&saved](const std::string& path) { saved = SaveResults(path); });
  if (saved) unsaved_->TicksSettled();
  return saved;
}

bool TForm1::SaveLogClick() {
  std::vector<LogRow> rows;
  for (int i = 0; i < logModel->rowCount(); ++i) rows.push_back(logModel->Row(i));
  bool saved = false;
  ExportThroughDialog(QStringLiteral("Log (*.tsv)"), QStringLiteral("tsv"),
                      [&saved, &rows](const std::string& path) { saved = SaveLog(rows, path); });
  if (saved) unsaved_->LogSaved();
  return saved;
}

void TForm1::OpenResultsClick() {
  if (ScanContext.Busy) return;
  const QString path = QFileDialog::getOpenFileName(
      this, QStringLiteral("Open results"), lastExportDirectory_.isEmpty() ? QDir::homePath() : lastExportDirectory_,
      QStringLiteral("Saved results (*.veldrano);;All files (*)"));
  if (!path.isEmpty()) OpenResultsFile(path);
}

bool TForm1::OpenResultsFile(const QString& path) {
  if (ScanContext.Busy ||
      !unsaved_->MayGoOn(
          UnsavedWork::Moment::Open, [this] { return SaveResultsClick(); }, [this] { return SaveLogClick(); })) {
    return false;
  }
  std::string problem;
  std::optional<OpenedResults> opened;
  {
    const BusyScope busy;
    opened = OpenResults(ToBytes(path), problem);
  }
  if (!opened) {
    AddLogEntry(LogError, "Can not open the results", ToBytes(path), problem);
    QMessageBox::warning(this, QStringLiteral("Open results"), ToDisplay(problem));
    return false;
  }
  // The directory list as the results had it, reference marks and all
  // (ScanContext.ReferenceFolders holds them now).
  {
    const QSignalBlocker quiet(Lista);
    Lista->clear();
  }
  ListDirectories(opened->Folders);
  unsaved_->TicksSettled();
  ShowTickedCount();
  return true;
}

void TForm1::ExportThroughDialog(const QString& filter, const QString& suffix,
                                 const std::function<void(const std::string&)>& write) {
  const BusyScope busy;  // from before the dialog opens until the export has ended
  // Where the last export went, else the home folder: the program's own
  // directory, once installed, is one nobody may write into.
  QFileDialog SaveDialog1(this, QString(), lastExportDirectory_.isEmpty() ? QDir::homePath() : lastExportDirectory_,
                          filter);
  SaveDialog1.setObjectName(QStringLiteral("SaveDialog1"));
  SaveDialog1.setAcceptMode(QFileDialog::AcceptSave);
  SaveDialog1.setFileMode(QFileDialog::AnyFile);
  SaveDialog1.setDefaultSuffix(suffix);
  // Qt's own dialog: the desktop's dialogs ask about replacing the name as
  // typed, before the extension is added, so "out" would silently replace
  // an existing "out.csv". Qt's asks about the name that will be written.
  SaveDialog1.setOption(QFileDialog::DontUseNativeDialog, true);
  if (SaveDialog1.exec() == QDialog::Accepted && !SaveDialog1.selectedFiles().isEmpty()) {
    lastExportDirectory_ = QFileInfo(SaveDialog1.selectedFiles().first()).absolutePath();
    write(ToBytes(SaveDialog1.selectedFiles().first()));
  }
}

void TForm1::Export_CSV_AllClick() {
  ExportThroughDialog(QStringLiteral("Comma separated file (*.csv)"), QStringLiteral("csv"),
                      [](const std::string& path) { ExportResult2CSV(path, false); });
}

void TForm1::Export_CSV_SelectedClick() {
  ExportThroughDialog(QStringLiteral("Comma separated file (*.csv)"), QStringLiteral("csv"),
                      [](const std::string& path) { ExportResult2CSV(path, true); });
}

void TForm1::Export2XMLClick() {
  ExportThroughDialog(QStringLiteral("XML files (*.xml)"), QStringLiteral("xml"),
                      [](const std::string& path) { ExportResult2XML(path); });
}

void TForm1::Quit1Click() { close(); }

void TForm1::IgnoredClick() {
  IgnoredDialog dialog(this);
  dialog.exec();
}

void TForm1::About1Click() {
  if (about_ != nullptr) about_->exec();
}

void TForm1::Memory1Click() {
  if (memory_ != nullptr) memory_->show();
}

void TForm1::lvSelectionColumnClick(int column) {
  selectionModel->SortByColumn(column);
  // The column's flag already holds the direction of its next click.
  const bool nextDescending = SortState.ColumnDescending[static_cast<std::size_t>(column)];
  lvSelection->horizontalHeader()->setSortIndicator(column, nextDescending ? Qt::AscendingOrder : Qt::DescendingOrder);
  lvSelection->horizontalHeader()->setSortIndicatorShown(true);
}

void TForm1::lvSelectionDblClick() {
  const QModelIndex current = lvSelection->currentIndex();
  if (!current.isValid()) return;
  const QString caption = selectionModel->index(current.row(), 0).data().toString();
  const std::optional<TreeNodeRef> node = FindTreeNode(ToBytes(caption));
  if (!node) return;
  QModelIndex index = treeModel->RootIndex();
  if (node->Level == 1) index = treeModel->GroupIndex(static_cast<int>(node->Group));
  if (node->Level == 2) index = treeModel->FileIndex(static_cast<int>(node->Group), static_cast<int>(node->File));
  TreeView1->setFocus();
  TreeView1->collapseAll();
  TreeView1->setCurrentIndex(index);
  TreeView1->expandRecursively(index);
  // In sight with its files: the last of them first, then the group itself
  // at the top if they do not all fit.
  const int files = treeModel->rowCount(index);
  if (files > 0) TreeView1->scrollTo(treeModel->index(files - 1, 0, index));
  TreeView1->scrollTo(index, files > 0 ? QAbstractItemView::PositionAtTop : QAbstractItemView::EnsureVisible);
}

void TForm1::lvLogDblClick() {
  const QModelIndex current = lvLog->currentIndex();
  if (!current.isValid()) return;
  const std::string path = logModel->Row(current.row()).Name;
  // Never a blocking call: the desktop's handler is started on its own.
  if (IsDirectory(path)) {
    OpenOnDesktop(path);
  } else if (PathExists(path)) {
    OpenOnDesktop(DirectoryPart(path));
  }
}

void TForm1::pmTreePopup(const QPoint& position) {
  const bool usable = treeModel->NodeCount() > 0 && !ScanContext.Busy;
  Expandallnodes->setEnabled(usable);
  Collapseallnodes->setEnabled(usable);
  const std::string path = treeModel->FilePathAt(TreeView1->indexAt(position));
  if (path.empty()) {
    pmTree->popup(TreeView1->viewport()->mapToGlobal(position));
    return;
  }
  // A file of a group: what can be done with it first.
  PopupFileMenu(TreeView1, position, path, pmTree->actions(), treeModel->FileAt(TreeView1->indexAt(position)));
}

void TForm1::AddFileActions(QMenu* menu, const std::string& path) {
  const bool known = !path.empty();
  menu->addAction(QStringLiteral("&Open"), this, [this, path] { OpenOnDesktop(path); })->setEnabled(known);
  menu->addAction(QStringLiteral("Open the &folder"), this, [this, path] { OpenOnDesktop(DirectoryPart(path)); })
      ->setEnabled(known);
  menu->addAction(QStringLiteral("Copy the &path"), this,
                  [path] {
                    // As text for any program, and as the exact bytes of the name for
                    // file managers.
                    auto* copied = new QMimeData;
                    copied->setText(ToDisplay(path));
                    copied->setUrls({FileUrl(path)});
                    QGuiApplication::clipboard()->setMimeData(copied);
                  })
      ->setEnabled(known);
}

void TForm1::OpenOnDesktop(const std::string& path) {
  // Whatever opens would come up behind a window kept above the others.
  if (sbPin->isChecked()) sbPin->click();
  if (QDesktopServices::openUrl(FileUrl(path))) return;
  QMessageBox failed(QMessageBox::Warning, QStringLiteral("Open"),
                     QStringLiteral("Nothing could open %1: the desktop has no program for it.").arg(ToDisplay(path)),
                     QMessageBox::Ok, this);
  failed.setObjectName(QStringLiteral("OpenFailed"));
  failed.exec();
}

void TForm1::lvSelectionPopup(const QPoint& position) {
  const QModelIndex at = lvSelection->indexAt(position);
  if (at.isValid()) lvSelection->setCurrentIndex(at);
  std::string path;
  std::optional<std::pair<std::uint32_t, std::uint32_t>> file;
  if (at.isValid() && !ScanContext.Busy) {
    const SelectionRow& row = ScanContext.Selection[static_cast<std::size_t>(at.row())];
    path = PathOf(row);
    file = std::pair{row.Group, row.File};
  }
  pmSelectionPopup();
  Action1Click();  // whether anything ticked can go
  PopupFileMenu(lvSelection, position, path, pmSelection->actions() + QList<QAction*>{trashSeparator_, MoveToTrash1},
                file);
}

void TForm1::PopupFileMenu(QAbstractItemView* view, const QPoint& position, const std::string& path,
                           const QList<QAction*>& more, std::optional<std::pair<std::uint32_t, std::uint32_t>> file) {
  auto* menu = new QMenu(this);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  AddFileActions(menu, path);
  if (file && !ScanContext.Busy) {
    // Not duplicates: left out now and from every later scan.
    const auto [group, index] = *file;
    menu->addSeparator();
    menu->addAction(QStringLiteral("Ignore this &group"), this, [group] { Ignore(IgnoreGroupEntry(group)); });
    menu->addAction(QStringLiteral("Ignore this f&ile"), this,
                    [group, index] { Ignore(IgnoreFileEntry(group, index)); });
  }
  menu->addSeparator();
  menu->addActions(more);
  menu->popup(view->viewport()->mapToGlobal(position));
}

void TForm1::AddDirectoryClick() {
  if (!sbStart->isEnabled()) return;  // a long operation runs: like a drop, refused
  // Qt's own chooser: the desktop's picks one folder at a time, this one
  // takes several with Ctrl or Shift.
  QFileDialog chooser(this, QStringLiteral("Add directories"), QDir::homePath());
  chooser.setObjectName(QStringLiteral("AddDirectoryDialog"));
  chooser.setOption(QFileDialog::DontUseNativeDialog, true);
  chooser.setFileMode(QFileDialog::Directory);  // before the views' selection mode, which it resets
  chooser.setOption(QFileDialog::ShowDirsOnly, true);
  for (QAbstractItemView* view : chooser.findChildren<QAbstractItemView*>()) {
    if (view->objectName() == QLatin1String("listView") || view->objectName() == QLatin1String("treeView")) {
      view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    }
  }
  if (chooser.exec() != QDialog::Accepted) return;
  std::vector<std::string> names;
  for (const QString& chosen : chooser.selectedFiles()) names.push_back(ToBytes(chosen));
  DropNames(names);
}

void TForm1::RemoveDirectoryClick() {
  if (!sbStart->isEnabled()) return;
  delete Lista->currentItem();
  SyncReferenceFolders();
  sbReset->setEnabled(Lista->topLevelItemCount() > 0);
}

void TForm1::ApplyTickRule(const std::function<void()>& rule) {
  if (ScanContext.Busy) return;
  rule();
  selectionModel->ChecksChanged();
}

void TForm1::pmSelectionPopup() {
  const bool rows = selectionModel->rowCount() > 0 && !ScanContext.Busy;
  for (QAction* action : pmSelection->actions()) action->setEnabled(rows);
  const bool highlighted = rows && lvSelection->currentIndex().isValid();
  pmSelection->findChild<QAction*>("TickFolder")->setEnabled(highlighted);
  pmSelection->findChild<QAction*>("UntickFolder")->setEnabled(highlighted);
}

void TForm1::ExpandallnodesClick() {
  TreeView1->setUpdatesEnabled(false);
  TreeView1->expandRecursively(treeModel->RootIndex());
  TreeView1->setUpdatesEnabled(true);
}

void TForm1::CollapseallnodesClick() {
  TreeView1->setUpdatesEnabled(false);
  TreeView1->collapseAll();
  TreeView1->expand(treeModel->RootIndex());
  TreeView1->setUpdatesEnabled(true);
}

void TForm1::FitTreeColumnSoon() {
  // Once the tree has laid out what was opened or closed, and once for a
  // whole burst of them.
  if (treeFitPending_) return;
  treeFitPending_ = true;
  QMetaObject::invokeMethod(this, &TForm1::FitTreeColumn, Qt::QueuedConnection);
}

void TForm1::FitTreeColumn() {
  treeFitPending_ = false;
  TreeView1->resizeColumnToContents(0);
  QHeaderView* header = TreeView1->header();
  if (header->sectionSize(0) < TreeView1->viewport()->width()) header->resizeSection(0, TreeView1->viewport()->width());
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == lvSelection->viewport() && event->type() == QEvent::Resize) FitSelectionColumns();
  if (watched == lvSelection->viewport() && event->type() == QEvent::MouseButtonDblClick) {
    // The row under the pointer: a press on a check box ticks it without
    // making its row the current one.
    const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
    if (const QModelIndex row = lvSelection->indexAt(at); row.isValid()) {
      lvSelection->setCurrentIndex(row);
      lvSelectionDblClick();
    }
  }
  if (watched == PanelBas && event->type() == QEvent::Resize) {
    // Acted on once the splitter has finished laying out its panes.
    QMetaObject::invokeMethod(this, &TForm1::PanelBasResize, Qt::QueuedConnection);
  }
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::FitSelectionColumns() {
  // A path says which file a row is, and needs room for its name: in a
  // narrow list the MD5 column gives way (its signatures cut in the
  // middle), and takes its width back as the list widens, until the user
  // sizes it.
  QHeaderView* header = lvSelection->horizontalHeader();
  if (header->sectionSize(0) != md5Width_) return;
  const int room = lvSelection->viewport()->width() - header->sectionSize(1) - Scaled(150);
  md5Width_ = std::clamp(room, Scaled(100), signatureWidth_);
  header->resizeSection(0, md5Width_);
}

void TForm1::PanelBasResize() {
  // The log's pane may not come closer than 50 pixels to the status bar:
  // what it loses there goes back to the selection list above it.
  if (!PanelBas->isVisible()) return;
  // Taken from the splitter: a pane dragged shut is moved out of sight.
  QList<int> sizes = Splitter1->sizes();
  const int top = Splitter1->mapTo(this, QPoint(0, sizes[0] + Splitter1->handleWidth())).y();
  const int limit = statusBar()->geometry().top() - Scaled(50);
  if (top < limit) return;
  const int shift = std::min(top - limit, sizes[0]);
  if (shift <= 0) return;
  setUpdatesEnabled(false);
  sizes[0] -= shift;
  sizes[1] += shift;
  Splitter1->setSizes(sizes);
  setUpdatesEnabled(true);
  update();
}

void TForm1::Exceptions1Exception(QObject*, const QString& info) { ReportFailure(ToBytes(info)); }

void TForm1::RestoreSession() {
  std::string problem;
  const WindowState state = LoadWindowState(problem);
  rememberSession_ = true;
  if (!problem.empty()) AddLogEntry(LogWarning, problem);
  std::vector<std::string> names;
  for (const WindowState::Directory& directory : state.Directories) names.push_back(directory.Path);
  DropNames(names);
  for (const WindowState::Directory& directory : state.Directories) {
    if (!directory.Reference) continue;
    for (int i = 0; i < DirectoryCount(); ++i) {
      if (Directory(i) == EnsureTrailingBackslash(directory.Path))
        Lista->topLevelItem(i)->setCheckState(1, Qt::Checked);
    }
  }
  if (!state.Geometry.isEmpty()) restoreGeometry(state.Geometry);
  if (!state.MainSplitter.isEmpty()) Splitter3->restoreState(state.MainSplitter);
  if (!state.ListSplitter.isEmpty()) Splitter1->restoreState(state.ListSplitter);
  if (!state.LastExportDirectory.isEmpty()) lastExportDirectory_ = state.LastExportDirectory;
  ScanContext.Filters = LoadScanFilters();
  ScanContext.UseHashCache = LoadUseHashCache();
  FitIntoScreen(this);  // a screen smaller than last time
}

void TForm1::SaveSession() {
  if (!rememberSession_) return;
  WindowState state;
  for (int i = 0; i < Lista->topLevelItemCount(); ++i) {
    state.Directories.push_back({Directory(i), Lista->topLevelItem(i)->checkState(1) == Qt::Checked});
  }
  state.Geometry = saveGeometry();
  state.MainSplitter = Splitter3->saveState();
  state.ListSplitter = Splitter1->saveState();
  state.LastExportDirectory = lastExportDirectory_;
  SaveWindowState(state);
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (!ScanContext.Busy &&
      !unsaved_->MayGoOn(
          UnsavedWork::Moment::Quit, [this] { return SaveResultsClick(); }, [this] { return SaveLogClick(); })) {
    event->ignore();
    return;
  }
  SaveSession();
  // Closed during a run: the run is stopped as by the Stop button, so that it
  // ends at once and takes its work directory with it, rather than going on
  // out of sight with the program (and its single-instance lock) alive.
  if (ScanContext.Busy && sbStop->isEnabled()) {
    closing_ = true;  // the file being read is dropped, not finished
    veldrano::sbStopClick();
  }
  QMainWindow::closeEvent(event);
}

// ---- Drops ----------------------------------------------------------------

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
  std::vector<std::string> names;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) names.push_back(LocalPathBytes(url));
  }
  DropNames(names);
  event->acceptProposedAction();
}

void TForm1::DropNames(const std::vector<std::string>& names) {
  if (!sbStart->isEnabled()) return;  // a long operation runs: the drop is refused
  ListDirectories(names);
}

void TForm1::ListDirectories(const std::vector<std::string>& names) {
  const BusyScope busy;
  std::vector<std::string> list;
  for (int i = 0; i < DirectoryCount(); ++i) list.push_back(Directory(i));
  bool changed = false;
  for (const std::string& name : names) changed = AddDroppedDirectory(list, name) || changed;
  if (changed) {
    const QSignalBlocker quiet(Lista);  // the rows are whole only at the end
    Lista->clear();
    for (const std::string& directory : list) {
      auto* item = new QTreeWidgetItem(Lista, {ToDisplay(directory)});
      item->setData(0, BytesRole, QByteArray(directory.data(), static_cast<qsizetype>(directory.size())));
      item->setFlags(item->flags() | Qt::ItemIsEditable | Qt::ItemIsUserCheckable);
      // A folder stays a reference folder while it is listed.
      const bool reference = std::ranges::find(ScanContext.ReferenceFolders, EnsureTrailingBackslash(directory)) !=
                             ScanContext.ReferenceFolders.end();
      item->setCheckState(1, reference ? Qt::Checked : Qt::Unchecked);
      item->setToolTip(1, ReferenceToolTip);
    }
  }
  SyncReferenceFolders();
  sbReset->setEnabled(sbStart->isEnabled() && Lista->topLevelItemCount() > 0);
}

}  // namespace veldrano
