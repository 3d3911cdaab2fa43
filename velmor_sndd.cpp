// The gateway without a window: the same start-up order as the operator program (listener,
// then link), log lines on standard output, failures on standard error.

#include "gateway/Errors.h"
#include "gateway/Gateway.h"

#include <csignal>
#include <cstdio>
#include <mutex>
#include <string>

namespace {

void report(const char* what, const std::exception& error)
{
    const auto* known = dynamic_cast<const gateway::Exception*>(&error);
    std::fprintf(stderr, "velmor_sndd: %s: %s: %s\n", what, known ? known->className() : "error",
                 error.what());
}

} // namespace

int main()
{
    // Blocked before any thread starts, so every thread inherits the mask and the signals
    // reach only the sigwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::mutex outputMutex;
    auto log = [&outputMutex](gateway::TextView line) {
        std::string bytes = gateway::toUtf8(line);
        bytes += '\n';
        std::lock_guard lock(outputMutex);
        std::fwrite(bytes.data(), 1, bytes.size(), stdout);
        std::fflush(stdout);
    };

    gateway::Gateway gateway(gateway::GatewayOptions{}, log);
    try {
        gateway.startListener();
    } catch (const std::exception& error) {
        report("cannot listen", error);
        return 1;
    }
    try {
        gateway.connectLink();
    } catch (const std::exception& error) {
        // Serving goes on: requests then fail at the link, as they would with a window.
        report("cannot connect to the lock system", error);
    }

    int received = 0;
    sigwait(&stopSignals, &received);
    gateway.shutdown();
    return 0;
}
