#include "app/unsaved_work.h"

#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QWidget>

namespace veldrano {

namespace {
const QString AskKey = QStringLiteral("Questions/AskBeforeLosingTicks");
}

UnsavedWork::UnsavedWork(QWidget* window) : QObject(window), window_(window) {}

bool UnsavedWork::AskAboutTicks() {
  const QSettings store(QStringLiteral("veldrano"), QStringLiteral("veldrano"));
  return store.value(AskKey, true).toBool();
}

void UnsavedWork::SetAskAboutTicks(bool ask) {
  QSettings store(QStringLiteral("veldrano"), QStringLiteral("veldrano"));
  store.setValue(AskKey, ask);
}

bool UnsavedWork::Ask(const QString& text, const QString& details, bool offerSilence,
                      const std::function<bool()>& save) {
  QMessageBox ask(QMessageBox::Warning, QStringLiteral("Unsaved work"), text, QMessageBox::NoButton, window_);
  ask.setObjectName(QStringLiteral("UnsavedWorkQuestion"));
  ask.setInformativeText(details);
  QPushButton* saveButton = ask.addButton(QMessageBox::Save);
  ask.addButton(QMessageBox::Discard);
  QPushButton* cancel = ask.addButton(QMessageBox::Cancel);
  ask.setDefaultButton(saveButton);
  ask.setEscapeButton(cancel);
  if (offerSilence) ask.setCheckBox(new QCheckBox(QStringLiteral("Do not ask again about ticks"), &ask));
  ask.exec();
  if (ask.clickedButton() == cancel || ask.clickedButton() == nullptr) return false;
  if (offerSilence && ask.checkBox()->isChecked()) SetAskAboutTicks(false);
  return ask.clickedButton() != saveButton || save();
}

bool UnsavedWork::MayGoOn(Moment moment, const std::function<bool()>& saveResults,
                          const std::function<bool()>& saveLog) {
  static const char* const doing[] = {"Clear", "Start a new scan", "Open other results", "Quit"};
  const QString what = QString::fromLatin1(doing[static_cast<int>(moment)]);
  if (ticks_ && AskAboutTicks()) {
    if (!Ask(QStringLiteral("%1 and lose the ticks you changed?").arg(what),
             QStringLiteral("The results hold ticks you changed that were neither saved nor acted on. Save the "
                            "results to open them again later (File \u2192 Open results...)."),
             true, saveResults)) {
      return false;
    }
  }
  // The log is the only record of what was acted on, and Clear empties it
  // (a scan adds to it; Quit leaves the journals for Undo).
  if (log_ && moment == Moment::Clear) {
    if (!Ask(QStringLiteral("%1 and lose the log of the files acted on?").arg(what),
             QStringLiteral("The log names every file moved, linked or put back since it was last saved."), false,
             saveLog)) {
      return false;
    }
  }
  ticks_ = false;
  if (moment == Moment::Clear) log_ = false;
  return true;
}

}  // namespace veldrano
