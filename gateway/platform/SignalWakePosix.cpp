#include "gateway/platform/SignalWakePosix.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <stdexcept>

namespace gateway::posix {

namespace {

// A signal handler reaches nothing but what is global: the wake signal of each signal.
std::atomic<WakeSignal*> wakes[NSIG];

extern "C" void raiseWake(int signal)
{
    const int savedErrno = errno;
    if (WakeSignal* wake = wakes[signal].load()) {
        wake->raise();
    }
    errno = savedErrno;
}

void setHandler(int signal, void (*handler)(int))
{
    struct sigaction action
    {
    };
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // Interrupted system calls resume where they can; the waits that cannot (poll) retry
    // themselves and watch the wake signal's descriptor.
    action.sa_flags = SA_RESTART;
    ::sigaction(signal, &action, nullptr);
}

} // namespace

void raiseOnSignal(int signal, WakeSignal& wake)
{
    WakeSignal* expected = nullptr;
    if (!wakes[signal].compare_exchange_strong(expected, &wake)) {
        throw std::logic_error("signal " + std::to_string(signal) +
                               " already raises a wake signal");
    }
    sigset_t unblocked;
    sigemptyset(&unblocked);
    sigaddset(&unblocked, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &unblocked, nullptr);
    setHandler(signal, raiseWake);
}

void restoreSignal(int signal)
{
    setHandler(signal, SIG_DFL);
    wakes[signal].store(nullptr);
}

} // namespace gateway::posix
