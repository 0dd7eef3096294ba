#pragma once
#include <QObject>

#include <functional>

class QWidget;

namespace veldrano {

// What the window holds that Clear, Start, opening other results or Quit
// would lose without a word: ticks the user changed and neither saved nor
// acted on, and a log that is the only record of files acted on (which
// Clear empties). Before any of those, MayGoOn asks "Save", "Discard" or
// "Cancel"; for ticks, with a "Do not ask again" choice kept in the
// desktop's settings.
class UnsavedWork : public QObject {
  Q_OBJECT

 public:
  enum class Moment { Clear, Start, Open, Quit };

  explicit UnsavedWork(QWidget* window);

  void TicksChanged() { ticks_ = true; }
  // Saved, acted on, or replaced by other results: nothing to lose.
  void TicksSettled() { ticks_ = false; }
  void LogRecordsActs() { log_ = true; }
  void LogSaved() { log_ = false; }
  bool HasUnsavedTicks() const { return ticks_; }

  // Whether the window may go on to what moment names: nothing would be
  // lost, or the user saved it (saveResults, saveLog: false when nothing
  // was saved, which keeps the window where it is) or chose to discard it.
  bool MayGoOn(Moment moment, const std::function<bool()>& saveResults, const std::function<bool()>& saveLog);

  // Whether ticks are asked about (the setting); tests and the settings
  // file say.
  static bool AskAboutTicks();
  static void SetAskAboutTicks(bool ask);

 private:
  // One question: 1 saved or discarded, 0 cancelled.
  bool Ask(const QString& text, const QString& details, bool offerSilence, const std::function<bool()>& save);

  QWidget* window_;
  bool ticks_ = false;
  bool log_ = false;
};

}  // namespace veldrano
