#pragma once

#include "window/ErrorBox.h"

#include <QEventLoop>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>

// Records the error boxes instead of showing them; onShow runs while the "box is open". A modal
// one then stays open, running its own event loop as a real box does, until dismissed (or for
// 10 s at most).
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
        if (modal && !dismissed) {
            QEventLoop loop;
            m_loop = &loop;
            QTimer::singleShot(10000, &loop, &QEventLoop::quit);
            loop.exec();
            m_loop = nullptr;
        }
    }

    void dismiss() override
    {
        dismissed = true;
        if (m_loop) {
            m_loop->quit();
        }
    }

    std::vector<Shown> shown;
    std::function<void()> onShow;
    bool modal = false;
    bool dismissed = false;

private:
    QEventLoop* m_loop = nullptr;
};
