#include <QLineEdit>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include <filesystem>
#include <fstream>

#include "app/duplicate_folders_model.h"
#include "app/selection_model.h"
#include "app/veldrano_f1.h"
#include "windows/duplicate_folders_view.h"

using namespace veldrano;

// The Folders tab beside the tree: filled by a scan, and a double-click on
// a folder narrows the list to its files.
class FoldersTabTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir scratch;

  void Write(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
  }

 private slots:
  void initTestCase() {
    qputenv("XDG_CONFIG_HOME", scratch.filePath("config").toUtf8());
    qputenv("XDG_STATE_HOME", scratch.filePath("state").toUtf8());
    qputenv("TMPDIR", scratch.path().toUtf8());
  }

  void aScanFillsItAndADoubleClickListsTheFolder() {
    const std::string photos = scratch.filePath("Photos").toStdString();
    const std::string backup = scratch.filePath("Backup [old]").toStdString();
    for (const char* name : {"a.jpg", "b.jpg"}) {
      Write(photos + "/" + name, std::string("picture ") + name);
      Write(backup + "/2019/" + name, std::string("picture ") + name);
    }
    Write(photos + "/c.jpg", "only here");
    TForm1 form;
    form.show();
    form.DropNames({photos, backup});
    form.sbStartClick();

    auto* tabs = form.findChild<QTabWidget*>("ResultTabs");
    QVERIFY(tabs != nullptr);
    QCOMPARE(tabs->tabText(0), QString("Groups"));
    QCOMPARE(tabs->tabText(1), QString("Folders"));
    tabs->setCurrentIndex(1);
    DuplicateFoldersModel* model = form.foldersView->Model();
    QCOMPARE(model->rowCount(), 1);
    QCOMPARE(model->index(0, 0).data().toString(), QString::fromStdString(backup + "/"));
    QCOMPARE(model->index(0, 1).data().toString(), QString("2"));
    QCOMPARE(model->index(0, 3).data().toString(), QString::fromStdString("Every file is in " + photos + "/"));

    QTableView* view = form.foldersView;
    const QPoint folder = view->visualRect(model->index(0, 0)).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, folder);  // the press a double-click begins with
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, folder);
    QCOMPARE(form.edSearch->text(), QString::fromStdString(scratch.filePath("Backup \\[old]/*").toStdString()));
    const auto shown = [&form] {
      QStringList paths;
      for (int r = 0; r < form.selectionModel->rowCount(); ++r) {
        if (!form.lvSelection->isRowHidden(r)) paths << form.selectionModel->index(r, 2).data().toString();
      }
      paths.sort();
      return paths;
    };
    QTRY_COMPARE(shown(), (QStringList{QString::fromStdString(backup + "/2019/a.jpg"),
                                       QString::fromStdString(backup + "/2019/b.jpg")}));
  }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  FoldersTabTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "folders_tab_test.moc"
