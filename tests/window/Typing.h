#pragma once

#include <QString>
#include <QWidget>
#include <QtTest>

// Types as the operator does, "\n" being the Enter key.
inline void typeInto(QWidget& widget, const QString& text)
{
    for (QChar character : text) {
        if (character == QLatin1Char('\n')) {
            QTest::keyClick(&widget, Qt::Key_Return);
        } else {
            QTest::keyClicks(&widget, QString(character));
        }
    }
}
