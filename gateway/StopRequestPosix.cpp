#include "gateway/StopRequest.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <stdexcept>
#include <unistd.h>

namespace gateway {

namespace {

// A signal handler reaches nothing but what is global; it only needs the wake signal's
// descriptor, and a write to it is async-signal-safe.
std::atomic<int> stopDescriptor{-1};

extern "C" void raiseStop(int)
{
    const int savedErrno = errno;
    const int fd = stopDescriptor.load();
    if (fd >= 0) {
        std::uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(fd, &one, sizeof one);
    }
    errno = savedErrno;
}

void setHandler(void (*handler)(int))
{
    struct sigaction action
    {
    };
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // Interrupted system calls resume where they can; the waits that cannot (poll) retry
    // themselves and watch the signal's descriptor.
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

} // namespace

StopRequest::StopRequest()
{
    int expected = -1;
    if (!stopDescriptor.compare_exchange_strong(expected, m_signal.handle())) {
        throw std::logic_error("only one stop request at a time");
    }
    // A stop signal blocked by whoever started us would never arrive.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    ::pthread_sigmask(SIG_UNBLOCK, &stopSignals, nullptr);
    setHandler(raiseStop);
}

void StopRequest::deliverSystemStop()
{
    ::raise(SIGTERM);
}

StopRequest::~StopRequest()
{
    setHandler(SIG_DFL);
    stopDescriptor.store(-1);
}

} // namespace gateway
