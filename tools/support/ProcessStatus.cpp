#include "tools/support/ProcessStatus.h"

#include <algorithm>
#include <charconv>
#include <cstddef>

namespace tools {
namespace {

// The number after "name:" on a line of its own, blanks and tabs before it skipped.
template <typename Number>
std::optional<Number> fieldNumber(std::string_view text, std::string_view name)
{
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (line.size() <= name.size() || line.substr(0, name.size()) != name ||
            line[name.size()] != ':') {
            continue;
        }
        line.remove_prefix(name.size() + 1);
        line.remove_prefix(std::min(line.find_first_not_of(" \t"), line.size()));
        Number value{};
        auto [rest, error] = std::from_chars(line.data(), line.data() + line.size(), value);
        if (error != std::errc() || value < 0 ||
            (rest != line.data() + line.size() && *rest != ' ' && *rest != '\t')) {
            return std::nullopt;
        }
        return value;
    }
    return std::nullopt;
}

} // namespace

ProcessStatus readProcessStatus(std::string_view text)
{
    ProcessStatus status;
    status.parent = fieldNumber<long>(text, "PPid");
    const auto voluntary = fieldNumber<long long>(text, "voluntary_ctxt_switches");
    const auto involuntary = fieldNumber<long long>(text, "nonvoluntary_ctxt_switches");
    if (voluntary && involuntary) {
        status.contextSwitches = *voluntary + *involuntary;
    }
    return status;
}

} // namespace tools
