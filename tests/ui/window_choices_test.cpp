#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <QtTest>

#include <filesystem>
#include <fstream>

#include "app/cache_settings.h"
#include "app/filter_settings.h"
#include "app/keep_rules_settings.h"
#include "app/log_model.h"
#include "app/results_tree_model.h"
#include "app/selection_model.h"
#include "app/veldrano_f1.h"
#include "results/results_model.h"
#include "scan/scan_context.h"
#include "windows/keep_rules_dialog.h"
#include "windows/options_dialog.h"

using namespace veldrano;

// What the user chooses in the window: reference folders in the directory
// list, the keep rules dialog with its preview, the ticked count, the search
// over the results, the scan's options, and the session that lasts.
class WindowChoicesTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir scratch;
  std::string pictures, downloads;

  void Write(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
  }
  // The ticks of the rows whose path holds part.
  static QList<bool> Ticks(const std::string& part) {
    QList<bool> ticks;
    for (const SelectionRow& row : ScanContext.Selection) {
      if (PathOf(row).find(part) != std::string::npos) ticks << row.Checked;
    }
    return ticks;
  }

 private slots:
  void initTestCase() {
    // Settings of the test's own, never the user's.
    qputenv("XDG_CONFIG_HOME", scratch.filePath("config").toUtf8());
    qputenv("XDG_CACHE_HOME", scratch.filePath("cache").toUtf8());
    qputenv("TMPDIR", scratch.path().toUtf8());
    pictures = scratch.filePath("Pictures").toStdString();
    downloads = scratch.filePath("Downloads").toStdString();
    for (const char* name : {"a.jpg", "b.jpg"}) {
      Write(pictures + "/" + name, std::string("picture ") + name);
      Write(downloads + "/" + name, std::string("picture ") + name);
      Write(downloads + "/copy of " + name, std::string("picture ") + name);
    }
    Write(pictures + "/both/c.jpg", "only in the reference folder");
    Write(pictures + "/d.jpg", "only in the reference folder");
  }

  void aReferenceFolderIsNeverTicked() {
    TForm1 form;
    form.DropNames({downloads, pictures});
    QTreeWidgetItem* row = form.Lista->findItems(QString::fromStdString(pictures + "/"), Qt::MatchExactly)[0];
    row->setCheckState(1, Qt::Checked);
    QCOMPARE(ScanContext.ReferenceFolders, std::vector<std::string>{pictures + "/"});
    form.sbStartClick();
    // The group found only inside the reference folder is no duplicate.
    QCOMPARE(ScanContext.ResultsRoot->Groups.size(), std::size_t{2});
    QCOMPARE(Ticks("Pictures"), (QList<bool>{false, false}));
    QCOMPARE(Ticks("Downloads"), (QList<bool>{true, true, true, true}));
    QTest::qWait(150);
    QCOMPARE(form.lblTicked->text(), QString("Ticked: 4 files, 52 bytes"));

    // Its check box is greyed, and a tick by hand does not hold.
    for (int r = 0; r < form.selectionModel->rowCount(); ++r) {
      const QModelIndex box = form.selectionModel->index(r, 0);
      const bool reference = PathOf(ScanContext.Selection[static_cast<std::size_t>(r)]).starts_with(pictures);
      QCOMPARE(form.selectionModel->flags(box).testFlag(Qt::ItemIsEnabled), !reference);
      if (reference) QVERIFY(!form.selectionModel->setData(box, Qt::Checked, Qt::CheckStateRole));
    }
    // The flag goes with the folder; dropped again, the list keeps it.
    form.DropNames({scratch.filePath("Pictures/both").toStdString()});
    QCOMPARE(form.Lista->findItems(QString::fromStdString(pictures + "/"), Qt::MatchExactly)[0]->checkState(1),
             Qt::Checked);
    row = form.Lista->findItems(QString::fromStdString(downloads + "/"), Qt::MatchExactly)[0];
    row->setCheckState(1, Qt::Checked);
    QCOMPARE(Ticks("Downloads"), (QList<bool>{false, false, false, false}));
  }

  void theDialogPreviewsRefusesBadPatternsAndRemembers() {
    TForm1 form;
    form.DropNames({downloads, pictures});
    form.sbStartClick();
    form.lvSelection->setCurrentIndex(form.selectionModel->index(0, 2));
    const std::uint32_t group = ScanContext.Selection[0].Group;
    {
      KeepRulesDialog dialog(LoadKeepRulesSettings(), {downloads + "/", pictures + "/"}, group);
      QCOMPARE(dialog.Criteria->count(), 1);  // reference folders, always first
      QVERIFY(!dialog.RemoveButton->isEnabled());
      dialog.AddButton->menu()->actions()[1]->trigger();  // Path matches the pattern
      QVERIFY(dialog.Pattern->isVisible() || !dialog.isVisible());
      QTest::keyClicks(dialog.Pattern, "*[Downloads");
      QVERIFY(!dialog.Buttons->button(QDialogButtonBox::Ok)->isEnabled());
      QVERIFY(dialog.Problem->text().contains("is not closed"));
      dialog.Pattern->clear();
      QTest::keyClicks(dialog.Pattern, "*/Pictures/*");
      QVERIFY(dialog.Buttons->button(QDialogButtonBox::Ok)->isEnabled());
      QCOMPARE(dialog.Preview->text().section('\n', 0, 0), QString("OK ticks 5 files (80 bytes)."));
      QVERIFY(dialog.Preview->text().contains("this one stays: " + QString::fromStdString(pictures)));
      // Turned round, the kept file is the first found outside Pictures.
      dialog.Direction->setCurrentIndex(1);
      emit dialog.Direction->activated(1);
      QCOMPARE(dialog.Chosen().Rules[0].Type, KeepCriterion::Kind::PathNotMatches);
      dialog.AfterEveryScan->setChecked(true);
      SaveKeepRulesSettings(dialog.Chosen());
    }
    const KeepRulesSettings saved = LoadKeepRulesSettings();
    QCOMPARE(saved.Rules.size(), std::size_t{1});
    QCOMPARE(saved.Rules[0].Pattern, std::string("*/Pictures/*"));
    QVERIFY(saved.AfterEveryScan);

    // Every scan now ticks by them: the copies in Pictures, outside the
    // reference folders now, are the ones ticked.
    form.sbStartClick();
    QCOMPARE(Ticks("Pictures/a.jpg") + Ticks("Pictures/b.jpg"), (QList<bool>{true, true}));
    QCOMPARE(Ticks("Downloads/a.jpg") + Ticks("Downloads/b.jpg"), (QList<bool>{false, false}));
  }

  // The search field narrows the list and the tree, and nothing else.
  void theSearchNarrowsTheViewsOnly() {
    TForm1 form;
    form.DropNames({downloads, pictures});
    form.sbStartClick();
    const std::vector<SelectionRow> before = ScanContext.Selection;
    const auto shown = [&form] {
      QStringList paths;
      for (int r = 0; r < form.selectionModel->rowCount(); ++r) {
        if (!form.lvSelection->isRowHidden(r)) paths << form.selectionModel->index(r, 2).data().toString();
      }
      return paths;
    };
    const int all = form.selectionModel->rowCount();
    form.edSearch->setText("COPY OF");  // any case
    QTRY_COMPARE(shown().size(), 2);
    QVERIFY(shown()[0].contains("copy of"));
    form.edSearch->setText("*/Pictures/*.jpg");  // a pattern on the whole path
    QTRY_COMPARE(shown().size(), 4);
    // In the tree, the group of the two pictures only in Pictures shows.
    const QModelIndex root = form.treeModel->RootIndex();
    int groupsShown = 0;
    for (int g = 0; g < form.treeModel->rowCount(root); ++g)
      groupsShown += form.TreeView1->isRowHidden(g, root) ? 0 : 1;
    QCOMPARE(groupsShown, 3);
    QCOMPARE(ScanContext.Selection.size(), before.size());
    for (std::size_t r = 0; r < before.size(); ++r) QCOMPARE(ScanContext.Selection[r].Checked, before[r].Checked);
    form.edSearch->clear();
    QTRY_COMPARE(shown().size(), all);
  }

  // Tools -> Options: what cannot be used is named and holds OK back; what
  // OK takes is the next scan's filters, and lasts; so does the choice of
  // keeping hashes, whose place and bounds the dialog shows.
  void theOptionsAreCheckedAndLast() {
    ScanFilters start;
    start.MinSize = 10240;
    OptionsDialog dialog(start, true);
    QVERIFY(dialog.UseHashCache->isChecked());
    QVERIFY(dialog.CacheLimit->text().contains(scratch.filePath("cache/veldrano/")));
    QVERIFY(dialog.CacheLimit->text().contains("1 000 000 files"));
    QCOMPARE(dialog.MinSize->text(), QString("10k"));
    const auto ok = [&dialog] { return dialog.Buttons->button(QDialogButtonBox::Ok)->isEnabled(); };
    dialog.MaxSize->setText("4x");
    QVERIFY(!ok());
    QVERIFY(dialog.Problem->text().contains("4x"));
    dialog.MaxSize->setText("4k");
    QVERIFY(!ok());  // below the minimum
    dialog.MaxSize->setText("1M");
    dialog.ExcludedFiles->setPlainText("*.tmp\n\n*.[ch");
    QVERIFY(!ok());
    QVERIFY(dialog.Problem->text().contains("*.[ch"));
    dialog.ExcludedFiles->setPlainText("*.tmp\n*.[ch]");
    dialog.NodeModules->setChecked(true);
    QVERIFY(ok());
    const ScanFilters chosen = dialog.Chosen();
    QCOMPARE(chosen.MaxSize, std::optional<std::uint64_t>(1 << 20));
    QCOMPARE(chosen.ExcludedFiles, (std::vector<std::string>{"*.tmp", "*.[ch]"}));
    QVERIFY(chosen.SkipNodeModules);

    SaveScanFilters(chosen);
    SaveUseHashCache(false);
    {
      TForm1 form;
      QVERIFY(ScanContext.UseHashCache);
      form.RestoreSession();
      QVERIFY(ScanContext.Filters == chosen);
      QVERIFY(!ScanContext.UseHashCache);
    }
    SaveUseHashCache(true);
    ScanContext.Filters = {};
  }

  // The directory list with its reference marks, and the window's state,
  // come back at the next start; a damaged settings file stops nothing.
  void theSessionLasts() {
    {
      TForm1 form;
      form.RestoreSession();
      form.DropNames({downloads, pictures});
      form.Lista->findItems(QString::fromStdString(pictures + "/"), Qt::MatchExactly)[0]->setCheckState(1, Qt::Checked);
      form.close();  // saved as it closes
    }
    {
      TForm1 form;
      form.RestoreSession();
      QCOMPARE(form.DirectoryCount(), 2);
      QCOMPARE(form.Lista->findItems(QString::fromStdString(pictures + "/"), Qt::MatchExactly)[0]->checkState(1),
               Qt::Checked);
      QCOMPARE(ScanContext.ReferenceFolders, std::vector<std::string>{pictures + "/"});
    }
    const QString file = scratch.filePath("config/veldrano/veldrano.conf");
    QVERIFY(QFile::exists(file));
    {
      QFile damaged(file);
      QVERIFY(damaged.open(QIODevice::WriteOnly | QIODevice::Truncate));
      damaged.write("[window\ndirectories=@ByteArray(\x01\xff\n");  // a section never closed
    }
    TForm1 form;
    form.RestoreSession();  // the defaults, and a warning that says why
    QCOMPARE(form.DirectoryCount(), 0);
    QVERIFY(form.logModel->rowCount() >= 2);
    QVERIFY(form.logModel->index(1, 1).data().toString().contains("could not be read: the defaults are used"));
  }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  WindowChoicesTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "window_choices_test.moc"
