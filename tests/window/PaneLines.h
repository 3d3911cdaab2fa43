#pragma once

#include <QPlainTextEdit>
#include <QStringList>

// The log pane's lines; a final line break gives no extra empty line.
inline QStringList paneLines(const QPlainTextEdit& pane)
{
    QString text = pane.toPlainText();
    if (text.endsWith(QLatin1Char('\n'))) {
        text.chop(1);
    }
    return text.isEmpty() && pane.document()->blockCount() == 1 ? QStringList()
                                                                : text.split(QLatin1Char('\n'));
}
