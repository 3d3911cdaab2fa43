#pragma once

#include <string>

namespace monitor {

// What decides whether a front desk can have keys made right now.
struct HealthFacts
{
    bool listening = false;
    // "10.1.2.3:8264".
    std::string linkName;
    bool linkUp = false;
    // When the link last came up or went down, as the log stamps it; empty when it has not yet.
    std::string linkChangedStamp;
    // How often a lost link is connected again; 0: it is not, until the program is restarted.
    int reconnectSeconds = 0;
};

struct HealthAnswer
{
    // 200 when requests can be served, 503 otherwise.
    int status = 503;
    // One line, for a person reading a monitor's alert.
    std::string text;
};

HealthAnswer healthAnswer(const HealthFacts& facts);

} // namespace monitor
