#include "window/NotificationArea.h"

#include "window/ApplicationIcon.h"

#include <QWidget>

namespace window {

NotificationArea::NotificationArea(QWidget& window) : m_window(window) {}

std::unique_ptr<QSystemTrayIcon> NotificationArea::addIcon(const QString& toolTip,
                                                           std::function<void()> onDoubleClick)
{
    auto icon = std::make_unique<QSystemTrayIcon>(applicationIcon());
    icon->setToolTip(toolTip);
    QObject::connect(
        icon.get(), &QSystemTrayIcon::activated, &m_window,
        [onDoubleClick = std::move(onDoubleClick)](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::DoubleClick) {
                onDoubleClick();
            }
        });
    // Without a notification area the icon is added once one appears.
    icon->show();
    return icon;
}

void NotificationArea::hideToIcon()
{
    m_window.hide();
}

void NotificationArea::bringBack()
{
    // Only minimising hides the window.
    if (m_window.isHidden()) {
        showMinimizedWithoutActivation();
    }
    m_window.raise();
    // X11 window managers restore a window that is made active; a minimised one is to stay
    // minimised.
    if (!m_window.isMinimized()) {
        m_window.activateWindow();
    }
}

void NotificationArea::showMinimizedWithoutActivation()
{
    m_window.setAttribute(Qt::WA_ShowWithoutActivating);
    m_window.showMinimized();
    m_window.setAttribute(Qt::WA_ShowWithoutActivating, false);
}

} // namespace window
