#include "window/StopSignals.h"

#include <QCoreApplication>
#include <QEvent>

namespace window {

StopSignals::StopSignals() = default;

StopSignals::~StopSignals()
{
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->removeEventFilter(this);
    }
}

void StopSignals::watch(std::function<void()> onStop)
{
    QCoreApplication::instance()->installEventFilter(this);
    m_notifier =
        std::make_unique<QSocketNotifier>(m_request.signal().handle(), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, this,
                     [this, onStop = std::move(onStop)] {
                         // The request stays raised for the other waits: one call is enough.
                         m_notifier->setEnabled(false);
                         onStop();
                     });
}

bool StopSignals::eventFilter(QObject* watched, QEvent* event)
{
    // The session's end reaches the program as the application's quit event.
    if (watched == QCoreApplication::instance() && event->type() == QEvent::Quit) {
        m_request.request();
    }
    return QObject::eventFilter(watched, event);
}

} // namespace window
