#include "gateway/base/OptionReader.h"

#include <algorithm>
#include <charconv>

namespace gateway {

std::string OptionReader::next()
{
    std::string_view word = m_argv[m_index++];
    m_inlineValue.reset();
    if (word.size() < 3 || word.substr(0, 2) != "--") {
        throw UsageError("unexpected argument '" + std::string(word) + "'");
    }
    auto equals = word.find('=');
    if (equals != std::string_view::npos) {
        m_inlineValue = std::string(word.substr(equals + 1));
        word = word.substr(0, equals);
    }
    m_name = std::string(word);
    return m_name;
}

std::string OptionReader::value()
{
    if (m_inlineValue) {
        return *m_inlineValue;
    }
    if (atEnd()) {
        throw UsageError(m_name + " needs a value");
    }
    return m_argv[m_index++];
}

void OptionReader::noValue() const
{
    if (m_inlineValue) {
        throw UsageError(m_name + " takes no value");
    }
}

long long parseNumber(const std::string& option, std::string_view text, long long min,
                      long long max)
{
    long long number = 0;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, number);
    bool digitsOnly = !text.empty() && text.front() >= '0' && text.front() <= '9';
    if (!digitsOnly || error != std::errc() || stop != end || number < min || number > max) {
        throw UsageError(option + ": '" + std::string(text) + "' is not a whole number from " +
                         std::to_string(min) + " to " + std::to_string(max));
    }
    return number;
}

std::string parseHost(const std::string& option, std::string value)
{
    if (value.empty()) {
        throw UsageError(option + ": the address is empty");
    }
    // An IPv4 address or a host name: letters, digits, "-", "_" and "."; anything else (a blank,
    // a quote left from a command line) is a typo that no lookup would find.
    const auto fits = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_' || c == '.';
    };
    if (!std::all_of(value.begin(), value.end(), fits) || value.front() == '-' ||
        value.front() == '.') {
        throw UsageError(option + ": '" + value + "' is no IPv4 address or host name");
    }
    return value;
}

std::uint16_t parsePort(const std::string& option, std::string_view text, int lowest)
{
    return static_cast<std::uint16_t>(parseNumber(option, text, lowest, 65535));
}

} // namespace gateway
