#include "app/keep_rules_settings.h"

#include <QSettings>

namespace veldrano {

KeepRulesSettings LoadKeepRulesSettings() {
  QSettings store(QStringLiteral("veldrano"), QStringLiteral("veldrano"));
  KeepRulesSettings loaded;
  // Kept in their written form, as bytes: folder names need not be UTF-8.
  const QByteArray written = store.value(QStringLiteral("keep/rules")).toByteArray();
  std::string problem;
  if (std::optional<KeepRules> rules = ParseKeepRules(std::string_view(written.constData(), written.size()), problem);
      rules && !written.isEmpty()) {
    loaded.Rules = std::move(*rules);
  }
  loaded.AfterEveryScan = store.value(QStringLiteral("keep/afterEveryScan"), false).toBool();
  return loaded;
}

void SaveKeepRulesSettings(const KeepRulesSettings& settings) {
  QSettings store(QStringLiteral("veldrano"), QStringLiteral("veldrano"));
  const std::string written = WriteKeepRules(settings.Rules);
  store.setValue(QStringLiteral("keep/rules"), QByteArray(written.data(), static_cast<qsizetype>(written.size())));
  store.setValue(QStringLiteral("keep/afterEveryScan"), settings.AfterEveryScan);
}

}  // namespace veldrano
