#include "tools/support/ReadUntil.h"

namespace gateway {

ReadEnd readUntil(const Socket& socket, std::string_view terminator,
                  std::chrono::steady_clock::time_point deadline, std::string& pending,
                  std::string& message)
{
    char buffer[4096];
    std::size_t searchFrom = 0;
    for (;;) {
        const auto end = pending.find(terminator, searchFrom);
        if (end != std::string::npos) {
            message = pending.substr(0, end);
            pending.erase(0, end + terminator.size());
            return ReadEnd::Found;
        }
        // The end of what is here may be the start of a terminator still on its way.
        searchFrom =
            pending.size() < terminator.size() ? 0 : pending.size() - terminator.size() + 1;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 ||
            waitReadable(socket, static_cast<int>(left.count()), nullptr) != Readiness::Readable) {
            return ReadEnd::TimedOut;
        }
        const std::size_t received = receiveSome(socket, buffer, sizeof buffer);
        if (received == 0) {
            return ReadEnd::Closed;
        }
        pending.append(buffer, received);
    }
}

} // namespace gateway
