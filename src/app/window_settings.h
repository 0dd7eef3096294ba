#pragma once
#include <QByteArray>
#include <QString>

#include <string>
#include <vector>

namespace veldrano {

// What the window keeps from one run of the program to the next, in the
// desktop's settings place ($XDG_CONFIG_HOME/veldrano/veldrano.conf, beside
// the keep rules): the directory list with its reference marks, the
// window's size, position and splitters, and where the last export went.
struct WindowState {
  struct Directory {
    std::string Path;  // bytes, as listed
    bool Reference = false;
  };
  std::vector<Directory> Directories;
  QByteArray Geometry;      // QWidget::saveGeometry
  QByteArray MainSplitter;  // the lists beside the tree
  QByteArray ListSplitter;  // the results list above the log
  QString LastExportDirectory;
};

// The state last saved. A settings file that cannot be read gives the
// defaults, and problem says so (empty otherwise).
WindowState LoadWindowState(std::string& problem);
void SaveWindowState(const WindowState& state);

}  // namespace veldrano
