#include "app/SettingsFile.h"

#include "gateway/base/OptionReader.h"

#include <algorithm>

using namespace gateway;

namespace app {

namespace {

std::string_view trimmed(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool isNameCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

} // namespace

std::vector<Setting> parseSettings(std::string_view text, const std::string& fileName)
{
    std::vector<Setting> settings;
    int number = 0;
    // A UTF-8 byte order mark, as Windows' Notepad may write one, is no part of the first name.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    while (!text.empty()) {
        ++number;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        line = trimmed(line);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const auto refuse = [&](const std::string& why) {
            throw UsageError(fileName + ":" + std::to_string(number) + ": " + why);
        };
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            refuse("'" + std::string(line) + "' is no setting: write name = value");
        }
        const std::string_view name = trimmed(line.substr(0, equals));
        const std::string_view value = trimmed(line.substr(equals + 1));
        if (name.empty()) {
            refuse("a value without a name");
        }
        if (name.substr(0, 2) == "--") {
            refuse("'" + std::string(name) + "': write the name without its --");
        }
        if (name.front() < 'a' || name.front() > 'z' ||
            !std::all_of(name.begin(), name.end(), isNameCharacter)) {
            refuse("'" + std::string(name) +
                   "' is no setting's name (lower-case letters, digits and -)");
        }
        if (std::any_of(value.begin(), value.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; })) {
            refuse(std::string(name) + ": the value holds a control character");
        }
        settings.push_back({std::string(name), std::string(value), number});
    }
    return settings;
}

} // namespace app
