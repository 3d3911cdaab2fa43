#pragma once

#include <QIcon>

namespace window {

// The application icon in 16, 24, 32, 48 and 256 pixels: the image of the window, its
// taskbar button and the notification icon.
QIcon applicationIcon();

} // namespace window
