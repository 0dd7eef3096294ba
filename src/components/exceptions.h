#pragma once
#include <QApplication>
#include <QObject>
#include <QString>

#include <functional>

namespace veldrano {

// The application: every error that escapes an event handler is handed to
// the one application-wide slot (ExceptionSlot) instead of ending the
// program. With the slot empty, the error is written to standard error and
// the program goes on.
class TApplication : public QApplication {
  Q_OBJECT
 public:
  using ExceptionSlot = std::function<void(QObject* sender, const QString& message)>;

  TApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;

  // The application object, or null when it is not a TApplication.
  static TApplication* Instance();
  // Fills the slot on behalf of owner (any object, or none).
  void SetExceptionSlot(ExceptionSlot slot, const QObject* owner = nullptr) {
    slot_ = std::move(slot);
    slotOwner_ = owner;
  }
  // Empties the slot if owner filled it last.
  void ReleaseExceptionSlot(const QObject* owner) {
    if (slotOwner_ == owner) SetExceptionSlot({});
  }
  const ExceptionSlot& Slot() const { return slot_; }

 private:
  void Escaped(QObject* receiver, const QString& message);
  ExceptionSlot slot_;
  const QObject* slotOwner_ = nullptr;
};

// Catches, application-wide, the errors that escape event handlers: hands
// their text to OnException, shows them in a message window when
// AfficheMessage is set, and ends the program when TermineSiErreur is set.
class TExceptions : public QObject {
  Q_OBJECT
 public:
  using TOnExceptionQeb = std::function<void(QObject* sender, const QString& info)>;

  explicit TExceptions(QObject* owner);
  ~TExceptions() override;

  bool Activation() const { return activation_; }
  // True installs this component in the application's slot (replacing what
  // it held); false empties the slot, whatever it holds.
  void SetActivation(bool value);

  bool TermineSiErreur = false;
  bool AfficheMessage = true;
  TOnExceptionQeb OnException;

  // The text of the message window for an error whose text is message.
  static QString MessageText(const QString& message);

  // What the application's slot calls for an error.
  void Handle(QObject* sender, const QString& message);

 private:
  void Install();
  bool activation_ = true;
};

}  // namespace veldrano
