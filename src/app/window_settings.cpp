#include "app/window_settings.h"

#include <QSettings>

namespace veldrano {

namespace {

QSettings Store() { return QSettings(QStringLiteral("veldrano"), QStringLiteral("veldrano")); }

}  // namespace

WindowState LoadWindowState(std::string& problem) {
  const QSettings store = Store();
  WindowState state;
  if (store.status() != QSettings::NoError) {
    problem = "The settings file " + store.fileName().toStdString() + " could not be read: the defaults are used";
    return state;
  }
  problem.clear();
  // Bytes, not text: folder names need not be UTF-8.
  const QList<QVariant> paths = store.value(QStringLiteral("window/directories")).toList();
  const QList<QVariant> references = store.value(QStringLiteral("window/references")).toList();
  for (qsizetype i = 0; i < paths.size(); ++i) {
    const QByteArray path = paths[i].toByteArray();
    if (path.isEmpty()) continue;
    state.Directories.push_back({std::string(path.constData(), static_cast<std::size_t>(path.size())),
                                 i < references.size() && references[i].toBool()});
  }
  state.Geometry = store.value(QStringLiteral("window/geometry")).toByteArray();
  state.MainSplitter = store.value(QStringLiteral("window/mainSplitter")).toByteArray();
  state.ListSplitter = store.value(QStringLiteral("window/listSplitter")).toByteArray();
  state.LastExportDirectory = store.value(QStringLiteral("window/lastExportDirectory")).toString();
  return state;
}

void SaveWindowState(const WindowState& state) {
  QSettings store = Store();
  QList<QVariant> paths, references;
  for (const WindowState::Directory& directory : state.Directories) {
    paths << QByteArray(directory.Path.data(), static_cast<qsizetype>(directory.Path.size()));
    references << directory.Reference;
  }
  store.setValue(QStringLiteral("window/directories"), paths);
  store.setValue(QStringLiteral("window/references"), references);
  store.setValue(QStringLiteral("window/geometry"), state.Geometry);
  store.setValue(QStringLiteral("window/mainSplitter"), state.MainSplitter);
  store.setValue(QStringLiteral("window/listSplitter"), state.ListSplitter);
  store.setValue(QStringLiteral("window/lastExportDirectory"), state.LastExportDirectory);
}

}  // namespace veldrano
