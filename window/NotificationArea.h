#pragma once

#include <QSystemTrayIcon>

#include <functional>
#include <memory>

class QWidget;

namespace window {

// The main window's life in the notification area: the icon stays while the program runs,
// minimising hides the window (taskbar button and all) to it, and a double-click on the icon
// brings the window back: minimised when it was hidden, to the top when it is shown.
class NotificationArea
{
public:
    explicit NotificationArea(QWidget& window);

    // The notification icon: the application icon with the tool tip and no menu; a
    // double-click on it calls onDoubleClick, other clicks do nothing. Without a notification
    // area it is added once one appears.
    std::unique_ptr<QSystemTrayIcon> addIcon(const QString& toolTip,
                                             std::function<void()> onDoubleClick);
    // The window's minimise: hidden, with its taskbar button.
    void hideToIcon();
    // The icon's double-click: a hidden window is shown minimised; either way the window comes
    // to the top.
    void bringBack();
    // Shown minimised, with the taskbar button, without taking the focus.
    void showMinimizedWithoutActivation();

private:
    QWidget& m_window;
};

} // namespace window
