#include "window/ApplicationTitle.h"

namespace window {

namespace {

// The longest tooltip the notification area holds.
constexpr qsizetype maxToolTipLength = 127;

} // namespace

QString applicationTitle(const QString& executablePath)
{
    QString name = executablePath.mid(executablePath.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    if (dot >= 0) {
        name.truncate(dot);
    }
    return name.left(1) + name.mid(1).toLower();
}

QString trayToolTip(const QString& title, const QString& linkState)
{
    const QString text =
        title.isEmpty() || linkState.isEmpty() ? title + linkState : title + '\n' + linkState;
    return text.left(maxToolTipLength);
}

} // namespace window
