#include "app/program_icon.h"

#include <QGuiApplication>

#include "program_info.h"

// The icons are compiled into a static library: nothing references them, so
// the linker keeps them only if they are registered explicitly.
// Q_INIT_RESOURCE must be used outside any namespace.
static void InitIconResources() { Q_INIT_RESOURCE(icons); }

namespace veldrano {

QIcon ProgramIcon() {
  static const bool resourcesReady = (InitIconResources(), true);
  Q_UNUSED(resourcesReady);
  QIcon bundled;
  for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
    bundled.addFile(QStringLiteral(":/icon/%1.png").arg(size), QSize(size, size));
  }
  return QIcon::fromTheme(QString::fromLatin1(DesktopId), bundled);
}

void SetProgramIdentity() {
  QGuiApplication::setDesktopFileName(QString::fromLatin1(DesktopId));
  QGuiApplication::setWindowIcon(ProgramIcon());
}

}  // namespace veldrano
