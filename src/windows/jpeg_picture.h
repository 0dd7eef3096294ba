#pragma once
#include <QByteArray>
#include <QImage>

namespace veldrano {

// Decodes a whole JPEG file held in memory to RGB pixels with libjpeg.
// Returns a Format_RGB888 image, or a null image when the data is not a
// JPEG, is damaged or truncated, or the pixels cannot be allocated; a bad
// picture never ends the program and prints nothing.
QImage DecodeJpeg(const QByteArray& data);

}  // namespace veldrano
