// veldrano: the desktop program. It takes no arguments but --version, and
// --open FILE (results saved earlier, opened in place of a new scan's).
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/display_failure.h"
#include "app/program_icon.h"
#include "app/single_instance.h"
#include "app/termination_requests.h"
#include "app/veldrano_f1.h"
#include "components/exceptions.h"
#include "program_info.h"
#include "windows/veldrano_f2.h"
#include "windows/veldrano_f4.h"

int main(int argc, char** argv) {
  // Answered without a display, and without the lock of a running copy.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("veldrano %s\n", veldrano::ProgramVersion);
      return 0;
    }
  }
  // A second copy in the same session ends at once, before any window.
  if (!veldrano::TakeSingleInstanceLock()) return 0;

  std::unique_ptr<veldrano::TApplication> app;
  {
    const veldrano::DisplayFailureExit noDisplay;  // Qt would abort
    app = std::make_unique<veldrano::TApplication>(argc, argv);
  }
  QApplication::setApplicationName(QStringLiteral("VELDRANO"));
  QApplication::setApplicationDisplayName(QStringLiteral("VELDRANO"));
  veldrano::SetProgramIdentity();

  veldrano::TForm1 Form1;
  veldrano::TForm4 Form4(&Form1);
  veldrano::TForm2 Form2;
  Form1.SetAuxiliaryWindows(&Form4, &Form2);
  veldrano::TerminationRequests requests(&Form1);
  Form1.RestoreSession();
  Form1.show();
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--open") == 0) Form1.OpenResultsFile(QString::fromLocal8Bit(argv[i + 1]));
  }
  const int status = app->exec();
  (void)status;
  return 0;
}
