#pragma once

#include "gateway/base/ReportThrottle.h"
#include "gateway/platform/LogFile.h"

#include <functional>
#include <string>

namespace app {

// What a kept file says when it fails: a write that could not be made never holds up its
// caller, and is told at most once a minute with the count lost meanwhile; a rollover that
// fails is told the same way, unless the file's options name their own.
class WriteFailures
{
public:
    using Complaint = std::function<void(const std::string& line)>;

    // what: the file as a line names it ("key record"); lost: what a failed write loses
    // ("records").
    WriteFailures(Complaint complain, std::string what, std::string lost)
        : m_complain(std::move(complain)), m_what(std::move(what)), m_lost(std::move(lost))
    {
    }

    // The options with the complaint for their rollover troubles, where they have none.
    gateway::LogFileOptions withTrouble(gateway::LogFileOptions options) const
    {
        if (!options.trouble) {
            options.trouble = m_complain;
        }
        return options;
    }

    // From any thread; reason empty: the write was made.
    void tell(const std::string& path, const std::string& reason)
    {
        if (reason.empty()) {
            return;
        }
        if (const std::optional<int> heldBack = m_throttle.admit()) {
            m_complain("cannot write to the " + m_what + " " + path + ": " + reason +
                       (*heldBack > 0 ? " (" + std::to_string(*heldBack) + " more " + m_lost +
                                            " lost since the last such line)"
                                      : std::string()));
        }
    }

private:
    const Complaint m_complain;
    const std::string m_what;
    const std::string m_lost;
    gateway::ReportThrottle m_throttle{std::chrono::minutes(1)};
};

} // namespace app
