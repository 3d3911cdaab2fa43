#pragma once

#include "window/ErrorBox.h"

#include <QString>
#include <QStringList>

#include <functional>

// Records the error boxes instead of showing them; onShow runs while the "box is open".
class RecordingErrorBox : public window::ErrorBox
{
public:
    struct Shown
    {
        QString caption;
        QString text;
    };

    void show(const QString& caption, const QString& text) override
    {
        shown.push_back({caption, text});
        if (onShow) {
            onShow();
        }
    }

    std::vector<Shown> shown;
    std::function<void()> onShow;
};
