#include "app/filter_settings.h"

#include <QSettings>

namespace veldrano {

namespace {

// Patterns are bytes: names need not be UTF-8.
QList<QVariant> ToList(const std::vector<std::string>& texts) {
  QList<QVariant> list;
  for (const std::string& text : texts) list << QByteArray(text.data(), static_cast<qsizetype>(text.size()));
  return list;
}

std::vector<std::string> FromList(const QList<QVariant>& list) {
  std::vector<std::string> texts;
  for (const QVariant& value : list) {
    const QByteArray bytes = value.toByteArray();
    if (!bytes.isEmpty()) texts.emplace_back(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  }
  return texts;
}

}  // namespace

ScanFilters LoadScanFilters() {
  const QSettings store(QStringLiteral("veldrano"), QStringLiteral("veldrano"));
  ScanFilters filters;
  if (store.status() != QSettings::NoError) return filters;
  bool ok = false;
  if (const qulonglong size = store.value(QStringLiteral("filters/minSize")).toULongLong(&ok); ok) {
    filters.MinSize = size;
  }
  if (const qulonglong size = store.value(QStringLiteral("filters/maxSize")).toULongLong(&ok); ok) {
    filters.MaxSize = size;
  }
  filters.ExcludedFolders = FromList(store.value(QStringLiteral("filters/excludedFolders")).toList());
  filters.ExcludedFiles = FromList(store.value(QStringLiteral("filters/excludedFiles")).toList());
  filters.RegexMode = store.value(QStringLiteral("filters/regex"), false).toBool();
  filters.SkipHidden = store.value(QStringLiteral("filters/skipHidden"), false).toBool();
  filters.OneFileSystem = store.value(QStringLiteral("filters/oneFileSystem"), false).toBool();
  filters.SkipVersionControl = store.value(QStringLiteral("filters/skipVersionControl"), false).toBool();
  filters.SkipNodeModules = store.value(QStringLiteral("filters/skipNodeModules"), false).toBool();
  filters.SkipCaches = store.value(QStringLiteral("filters/skipCaches"), false).toBool();
  return FiltersProblem(filters).empty() ? filters : ScanFilters{};
}

void SaveScanFilters(const ScanFilters& filters) {
  QSettings store(QStringLiteral("veldrano"), QStringLiteral("veldrano"));
  const auto size = [&store](const QString& key, const std::optional<std::uint64_t>& value) {
    if (value) {
      store.setValue(key, static_cast<qulonglong>(*value));
    } else {
      store.remove(key);
    }
  };
  size(QStringLiteral("filters/minSize"), filters.MinSize);
  size(QStringLiteral("filters/maxSize"), filters.MaxSize);
  store.setValue(QStringLiteral("filters/excludedFolders"), ToList(filters.ExcludedFolders));
  store.setValue(QStringLiteral("filters/excludedFiles"), ToList(filters.ExcludedFiles));
  store.setValue(QStringLiteral("filters/regex"), filters.RegexMode);
  store.setValue(QStringLiteral("filters/skipHidden"), filters.SkipHidden);
  store.setValue(QStringLiteral("filters/oneFileSystem"), filters.OneFileSystem);
  store.setValue(QStringLiteral("filters/skipVersionControl"), filters.SkipVersionControl);
  store.setValue(QStringLiteral("filters/skipNodeModules"), filters.SkipNodeModules);
  store.setValue(QStringLiteral("filters/skipCaches"), filters.SkipCaches);
}

}  // namespace veldrano
