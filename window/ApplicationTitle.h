#pragma once

#include <QString>

namespace window {

// The executable's file name without its folder, cut before its first ".", with every
// character from the second on in lower case: the caption of the error box and the
// notification icon's tooltip.
QString applicationTitle(const QString& executablePath);

// The notification icon's tooltip: the title cut to 127 characters; empty means none.
QString trayToolTip(const QString& title);

} // namespace window
