#pragma once

#include <optional>
#include <string_view>

namespace tools {

// What the load tool reads from the text of /proc/PID/status or /proc/PID/task/TID/status.
struct ProcessStatus
{
    std::optional<long> parent;               // PPid
    std::optional<long long> contextSwitches; // voluntary + nonvoluntary, both present
};

// The fields of a status text; a field that is missing or not a number is left empty.
ProcessStatus readProcessStatus(std::string_view text);

} // namespace tools
