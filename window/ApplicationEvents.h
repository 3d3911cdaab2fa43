#pragma once

#include <QObject>

namespace window {

// The application's minimise event. The first minimise command marks the application
// minimised and raises minimized(); further commands do nothing until the window has been
// restored.
class ApplicationEvents : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // The main window received the platform's minimise command.
    void minimize();
    // The main window is no longer minimised.
    void restored();
    bool isMinimized() const { return m_minimized; }

signals:
    void minimized();

private:
    bool m_minimized = false;
};

} // namespace window
