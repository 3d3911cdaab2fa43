#pragma once

#include "gateway/platform/StopRequest.h"

#include <QObject>
#include <QSocketNotifier>

#include <functional>
#include <memory>

namespace window {

// Stop requests as an event of the window's thread: SIGINT, SIGTERM and the end of the user's
// session (Qt's quit event, which also ends a modal box's loop). Construct it first, so that a
// stop at any moment of start-up is kept; the request stays raised, so waits that watch
// signal() (the start-up connect) end as well.
class StopSignals : public QObject
{
public:
    StopSignals();
    ~StopSignals() override;

    const gateway::WakeSignal& signal() const { return m_request.signal(); }
    bool requested() const { return m_request.requested(); }

    // Needs the application object. onStop runs once, on the window's thread, as soon as any
    // event loop runs (a modal box's included); a stop that came earlier is delivered then.
    void watch(std::function<void()> onStop);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    gateway::StopRequest m_request;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace window
