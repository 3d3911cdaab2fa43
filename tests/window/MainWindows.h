#pragma once

#include "window/Velmor_send.h"

#include <QApplication>
#include <QList>

// The operator windows that exist, shown or not: the program has one while it runs and none
// once it has ended or failed to start.
inline QList<TForm7*> mainWindows()
{
    QList<TForm7*> windows;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* form = qobject_cast<TForm7*>(widget)) {
            windows.append(form);
        }
    }
    return windows;
}

// The one operator window, or null.
inline TForm7* mainWindow()
{
    const QList<TForm7*> windows = mainWindows();
    return windows.size() == 1 ? windows.front() : nullptr;
}
