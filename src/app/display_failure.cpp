#include "app/display_failure.h"

#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>

namespace veldrano {

namespace {

void OnMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type != QtFatalMsg) {
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
    return;
  }
  // Qt's own text tells the user to reinstall the program, which would not help.
  std::fputs(NoDisplayText, stderr);
  std::fflush(stderr);
  std::_Exit(1);
}

}  // namespace

DisplayFailureExit::DisplayFailureExit() { qInstallMessageHandler(OnMessage); }

DisplayFailureExit::~DisplayFailureExit() { qInstallMessageHandler(nullptr); }

}  // namespace veldrano
