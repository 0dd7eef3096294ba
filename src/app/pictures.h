#pragma once
#include <QIcon>

namespace veldrano {

// The window's pictures, drawn at run time so that they stay sharp at any
// scale; each sits on its own coloured disc or shape, so it reads on light
// and dark themes alike.
QIcon StartPicture();
QIcon StopPicture();
QIcon ClearPicture();
QIcon PinPicture();
// The log's images: 0 ready, 1 information, 2 warning, 3 error.
QIcon LogImage(int index);

}  // namespace veldrano
