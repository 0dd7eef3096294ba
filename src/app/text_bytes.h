#pragma once
#include <QFile>
#include <QString>

#include <string>
#include <string_view>

namespace veldrano {

// The engine holds paths and texts as bytes; the window shows them as
// text. Names go back to bytes the way the file system encodes them, so a
// name that is not valid UTF-8 survives the round trip.
inline QString ToDisplay(std::string_view bytes) {
  return QFile::decodeName(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

inline std::string ToBytes(const QString& text) {
  const QByteArray bytes = QFile::encodeName(text);
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

}  // namespace veldrano
