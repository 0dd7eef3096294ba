#include <QGuiApplication>
#include <QtTest>

#include "app/program_icon.h"
#include "program_info.h"

// The window's icon and the desktop entry it belongs to.
class ProgramIconTest : public QObject {
  Q_OBJECT

 private slots:
  void theApplicationCarriesTheProgramsIconAndDesktopId() {
    veldrano::SetProgramIdentity();
    QCOMPARE(QGuiApplication::desktopFileName(), QString::fromLatin1(veldrano::DesktopId));
    const QIcon icon = QGuiApplication::windowIcon();
    QVERIFY(!icon.isNull());
    // Its pictures load, at the sizes of menus, title bars and docks.
    for (const int size : {16, 48, 256}) QCOMPARE(icon.pixmap(QSize(size, size), 1.0).size(), QSize(size, size));
  }
};

QTEST_MAIN(ProgramIconTest)
#include "program_icon_test.moc"
