#pragma once

#include <QSocketNotifier>

#include <functional>
#include <memory>

namespace window {

// SIGINT and SIGTERM as events of the window's thread. Both are blocked from construction on
// and read from a signalfd, so no signal handler runs at all. Construct it before any other
// thread starts (the application object starts some): threads inherit the blocked set.
class StopSignals
{
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // From now on each signal calls onStop on the window's thread; one that came earlier is
    // delivered as soon as the event loop runs. Needs the application object.
    void watch(std::function<void()> onStop);

private:
    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace window
