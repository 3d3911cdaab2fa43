#pragma once

#include <QString>

namespace window {

// The executable's file name without its folder, cut before its first ".", with every
// character from the second on in lower case: the caption of the error box and the
// notification icon's tooltip.
QString applicationTitle(const QString& executablePath);

// The notification icon's tooltip: the title, and on a line of its own the link's state (where
// the lock system is and whether it is connected), cut to the 127 characters the notification
// area holds; empty means none.
QString trayToolTip(const QString& title, const QString& linkState = {});

} // namespace window
