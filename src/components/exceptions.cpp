#include "components/exceptions.h"

#include <QMessageBox>

#include <cstdio>
#include <exception>

namespace veldrano {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

TApplication* TApplication::Instance() { return qobject_cast<TApplication*>(QCoreApplication::instance()); }

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& failure) {
    Escaped(receiver, QString::fromLocal8Bit(failure.what()));
  } catch (...) {
    Escaped(receiver, QStringLiteral("Unknown failure"));
  }
  return false;
}

void TApplication::Escaped(QObject* receiver, const QString& message) {
  if (slot_) {
    slot_(receiver, message);
  } else {
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
  }
}

TExceptions::TExceptions(QObject* owner) : QObject(owner) { Install(); }

TExceptions::~TExceptions() {
  // No error may reach a component that is gone: take the slot back if it
  // is still ours.
  if (TApplication* app = TApplication::Instance()) app->ReleaseExceptionSlot(this);
}

void TExceptions::Install() {
  if (TApplication* app = TApplication::Instance()) {
    app->SetExceptionSlot([this](QObject* sender, const QString& message) { Handle(sender, message); }, this);
  }
}

void TExceptions::SetActivation(bool value) {
  activation_ = value;
  if (value) {
    Install();
  } else if (TApplication* app = TApplication::Instance()) {
    app->SetExceptionSlot({});
  }
}

QString TExceptions::MessageText(const QString& message) {
  // Line feed before carriage return, as the message has always been built.
  const QString breaks = QStringLiteral("\n\r\n\r");
  return QStringLiteral("ATTENTION !!!") + breaks + message + breaks +
         QStringLiteral("Veuillez contacter votre administrateur informatique.");
}

void TExceptions::Handle(QObject* /*sender*/, const QString& message) {
  if (OnException) OnException(this, message);
  if (AfficheMessage) {
    QMessageBox::warning(nullptr, QApplication::applicationDisplayName(), MessageText(message));
  }
  // The loop that runs ends once this event is done, and the main loop
  // with it: the program then closes normally.
  if (TermineSiErreur) QCoreApplication::exit(0);
}

}  // namespace veldrano
