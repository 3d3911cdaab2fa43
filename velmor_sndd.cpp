// The gateway without a window: the same start-up order as the operator program (listener,
// then link), log lines on standard output, failures on standard error.

#include "gateway/Errors.h"
#include "gateway/Gateway.h"
#include "gateway/ProcessFacts.h"
#include "gateway/StopRequest.h"

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
    // From the first moment on: a stop during the start-up connect abandons it.
    gateway::StopRequest stop;
    gateway::useBinaryStandardOutput();

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
        gateway.connectLink(&stop.signal());
    } catch (const gateway::EAbort&) {
        // Stopped while connecting: nothing to report.
    } catch (const std::exception& error) {
        // Serving goes on: requests then fail at the link, as they would with a window.
        report("cannot connect to the lock system", error);
    }

    gateway::waitForWake(stop.signal(), -1);
    gateway.shutdown();
    return 0;
}
