#pragma once
#include <QElapsedTimer>
#include <QMainWindow>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "app/unsaved_work.h"
#include "results/ticked_action.h"
#include "scan/scan_scopes.h"
#include "scan/window_port.h"

class QAbstractItemView;
class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QSplitter;
class QTableView;
class QTimer;
class QToolButton;
class QTreeView;
class QTreeWidget;
class QWidget;

namespace veldrano {

class DuplicateFoldersView;
class LogModel;
class ResultsTreeModel;
class SelectionModel;
class TExceptions;
class TForm2;
class TForm4;

// The main window: the directory list, the Start, Stop and Clear buttons,
// the results tree and list, the activity log, the status bar and the
// progress bars. It is the window the engine reports to.
class TForm1 : public QMainWindow, public WindowPort {
  Q_OBJECT
 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // The auxiliary windows that the Tools menu shows.
  void SetAuxiliaryWindows(TForm4* about, TForm2* memory);

  // WindowPort
  void SetStatusText(int panel, std::string_view text) override;
  void SetOverallProgress(int position) override;
  void SetFileProgress(int position) override;
  void AppendLogRow(const LogRow& row) override;
  void SetTopCaption(std::string_view text) override;
  void SetProgressBarsVisible(bool visible) override;
  void SetButtonEnabled(Button button, bool enabled) override;
  int DirectoryCount() override;
  std::string Directory(int index) override;
  void ClearDirectories() override;
  void ClearLog() override;
  void ResultsCleared() override;
  void ResultsRootCreated() override;
  void DuplicateRecorded(std::uint32_t group, bool newGroup) override;
  void ResultsReplaced() override;
  bool ProcessMessages() override;
  bool Closing() override { return closing_; }

  // A drop of these names (file-system bytes), as from a file manager.
  void DropNames(const std::vector<std::string>& names);
  // The directory list with its reference marks, the window's place and
  // splitters and the last export folder as the last session left them;
  // from then on they are saved when the window closes.
  void RestoreSession();
  void SaveSession();

  // The components, named as in the window's description.
  QFrame* PanelHaut;
  QLabel* PanelHautCaption;
  QToolButton* sbStart;
  QToolButton* sbStop;
  QToolButton* sbReset;
  QToolButton* sbPin;
  QTreeWidget* Lista;
  QTableView* lvSelection;
  QLabel* lblTicked;    // "Ticked: N files, X Mb"
  QLineEdit* edSearch;  // narrows the list and the tree (ResultsFilter)
  QSplitter* Splitter1;
  QSplitter* Splitter3;  // the lists beside the tree
  QFrame* PanelBas;
  QTableView* lvLog;
  QTreeView* TreeView1;
  QProgressBar* ProgressBar1;
  QProgressBar* ProgressBar2;
  QLabel* StatusPanels[4];
  QTimer* Timer1;
  QMenu* Action1;
  QMenu* Export2CSV;
  QAction* Export_CSV_All;
  QAction* Export_CSV_Selected;
  QAction* Export2XML;
  QAction* MoveToTrash1;  // Action menu, and Delete in the list or the tree
  QAction* HardLinks1;    // Action menu: the other actions on the ticked files
  QAction* SymbolicLinks1;
  QAction* ShareBlocks1;
  QAction* MoveToFolder1;
  QAction* UndoLast1;  // Edit menu
  QMenu* pmTree;
  QMenu* pmSelection;      // tick rules: the "Selection" menu and the list's context menu
  QToolButton* sbAdd;      // beside the directory list: adds a directory
  QAction* AddDirectory1;  // File menu: the same
  QAction* Expandallnodes;
  QAction* Collapseallnodes;
  TExceptions* Exceptions1;
  LogModel* logModel;
  SelectionModel* selectionModel;
  ResultsTreeModel* treeModel;
  DuplicateFoldersView* foldersView;  // the Folders tab beside the tree

 public slots:
  void sbStartClick();
  void sbStopClick();
  void sbResetClick();
  void sbPinClick();
  void Timer1Timer();
  void Action1Click();
  void Export_CSV_AllClick();
  void Export_CSV_SelectedClick();
  void Export2XMLClick();
  // Asks, naming the number of ticked files and their size, then moves them
  // to the Trash, each on proof (results/ticked_action.h).
  void MoveToTrashClick();
  // The same for any action on the ticked files: the confirmation
  // (ActionDialog), then the action or its dry run.
  void ActOnTickedClick(ActionKind kind);
  // Edit -> "Undo last action": asks, then puts back what the newest
  // journal with something left to undo records.
  void UndoLastClick();
  // File -> "Save results...": the results with their ticks, to a file
  // chosen with the save dialog; false when nothing was saved.
  bool SaveResultsClick();
  // File -> "Open results...": asks first when ticks would be lost.
  void OpenResultsClick();
  // Opens the results saved at path in place of the window's (veldrano
  // --open FILE), once nothing unsaved would be lost; a file that is not
  // such results is refused with a message, and nothing changes.
  bool OpenResultsFile(const QString& path);
  // File -> "Save log...": the log in veldrano-scan's line form; false when
  // nothing was saved.
  bool SaveLogClick();
  // Selection -> "Choose the copy to keep...": the keep rules dialog, and on
  // OK its ticks.
  void ChooseKeptClick();
  // Tools -> "Options...": the scan's filters, remembered.
  void OptionsClick();
  // File -> Forget cached hashes: empties the cache of hashes kept across
  // scans, and says so in the log.
  void ForgetHashesClick();
  void Quit1Click();
  void About1Click();
  void Memory1Click();
  void lvSelectionColumnClick(int column);
  void lvSelectionDblClick();
  void lvLogDblClick();
  void pmTreePopup(const QPoint& position);
  void ExpandallnodesClick();
  void CollapseallnodesClick();
  // Applies a tick rule to the selection list and shows the result.
  void ApplyTickRule(const std::function<void()>& rule);
  // The tick rules that fit now: none during a long operation or with an
  // empty list; the folder rules only with a highlighted row.
  void pmSelectionPopup();
  // The directories chosen, one or several at once, with the folder chooser
  // join the list by the rules of a drop; the highlighted one leaves it.
  void AddDirectoryClick();
  void RemoveDirectoryClick();
  // Open the file, open its folder, copy its path: added to menu for path
  // (disabled when path is empty).
  void AddFileActions(QMenu* menu, const std::string& path);
  // The list's context menu: the file actions for the row at position, then
  // the tick rules.
  void lvSelectionPopup(const QPoint& position);
  // A context menu at position in view: the file actions for path, then more.
  // file: the group and file of path, for "Ignore this group/file".
  void PopupFileMenu(QAbstractItemView* view, const QPoint& position, const std::string& path,
                     const QList<QAction*>& more,
                     std::optional<std::pair<std::uint32_t, std::uint32_t>> file = std::nullopt);
  // Tools -> "Ignored...": what is not duplicates, to take back.
  void IgnoredClick();
  void Exceptions1Exception(QObject* sender, const QString& info);
  void PanelBasResize();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void BuildLayout();
  // Adds names to the directory list by the rules of a drop.
  void ListDirectories(const std::vector<std::string>& names);
  // The reference folders (ScanContext.ReferenceFolders) as the list's
  // check boxes say; a file in one loses its tick.
  void SyncReferenceFolders();
  void ShowTickedCount();
  void BuildMenus();
  // Asks for the export's file with the save dialog and hands it to write;
  // Busy all along. Cancelling writes nothing.
  void ExportThroughDialog(const QString& filter, const QString& suffix,
                           const std::function<void(const std::string&)>& write);
  // Opens path with the desktop's program for it, the pin released first as
  // by a click on it, so that what opens is seen; says so when nothing can.
  void OpenOnDesktop(const std::string& path);
  int Scaled(int pixels) const;
  // Hands the positions kept for the progress bars to them.
  void ShowProgress();
  // Narrows the MD5 column in a narrow list, so that the Path column keeps
  // room for a file's name.
  void FitSelectionColumns();
  // Widens the tree's one column to its longest shown row.
  void FitTreeColumn();
  void FitTreeColumnSoon();

  AttachedWindow attached_{this};      // the engine reports here from the start
  QAction* trashSeparator_ = nullptr;  // before MoveToTrash1 in the list's context menu
  QString lastExportDirectory_;        // where the save dialogs start next
  QString lastMoveDirectory_;          // where the last move to a folder went
  UnsavedWork* unsaved_ = nullptr;     // ticks and a log Clear, Start, Open or Quit would lose
  bool closing_ = false;               // closed during a run
  QElapsedTimer pumpClock_;
  qint64 lastPump_ = -1000;
  bool treeFitPending_ = false;
  int barPositions_[2] = {0, 0};
  QTimer* tickedRecount_ = nullptr;
  bool rememberSession_ = false;  // RestoreSession was called: saved on close  // the ticked count, shown again soon
  int signatureWidth_ = 0;        // what a signature needs in the selection list
  int md5Width_ = 0;              // the MD5 column's width as last fitted
  TForm4* about_ = nullptr;
  TForm2* memory_ = nullptr;
};

}  // namespace veldrano
