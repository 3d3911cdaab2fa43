#include "window/StopSignals.h"

#include <csignal>
#include <sys/signalfd.h>
#include <system_error>
#include <unistd.h>

namespace window {

namespace {

sigset_t stopSignalSet()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

} // namespace

StopSignals::StopSignals()
{
    const sigset_t stopSet = stopSignalSet();
    pthread_sigmask(SIG_BLOCK, &stopSet, nullptr);
    m_fd = signalfd(-1, &stopSet, SFD_NONBLOCK | SFD_CLOEXEC);
    if (m_fd < 0) {
        throw std::system_error(errno, std::generic_category(), "signalfd");
    }
}

StopSignals::~StopSignals()
{
    m_notifier.reset();
    ::close(m_fd);
}

void StopSignals::watch(std::function<void()> onStop)
{
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated,
                     [fd = m_fd, onStop = std::move(onStop)] {
                         signalfd_siginfo info;
                         while (::read(fd, &info, sizeof info) == sizeof info) {
                             onStop();
                         }
                     });
}

} // namespace window
