#include "app/cache_settings.h"

#include <QSettings>

namespace veldrano {

namespace {

const QString UseKey = QStringLiteral("cache/useHashes");

}  // namespace

bool LoadUseHashCache() {
  const QSettings store(QStringLiteral("veldrano"), QStringLiteral("veldrano"));
  return store.value(UseKey, true).toBool();
}

void SaveUseHashCache(bool use) {
  QSettings store(QStringLiteral("veldrano"), QStringLiteral("veldrano"));
  store.setValue(UseKey, use);
}

}  // namespace veldrano
