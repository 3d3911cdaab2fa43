#pragma once

// Small pieces shared by the tools: option reading, number checks and
// readable renderings of wire bytes.

#include "gateway/ReadableText.h"
#include "gateway/SocketPlatform.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tools {

// A bad command line; the message names the option and what is wrong with it.
class UsageError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Walks "--name value" and "--name=value" options in order.
class OptionReader
{
public:
    OptionReader(int argc, char** argv) : m_argc(argc), m_argv(argv) {}

    bool atEnd() const { return m_index >= m_argc; }

    // The next option's name; a word that is not an option is a usage error.
    std::string next()
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

    // The value of the option just read, from "=value" or the following word.
    std::string value()
    {
        if (m_inlineValue) {
            return *m_inlineValue;
        }
        if (atEnd()) {
            throw UsageError(m_name + " needs a value");
        }
        return m_argv[m_index++];
    }

    // For options that take no value: "--quiet=yes" is refused rather than ignored.
    void noValue() const
    {
        if (m_inlineValue) {
            throw UsageError(m_name + " takes no value");
        }
    }

    const std::string& name() const { return m_name; }

private:
    int m_argc;
    char** m_argv;
    int m_index = 1;
    std::string m_name;
    std::optional<std::string> m_inlineValue;
};

// A whole decimal number from min to max, or a usage error that says so.
inline long long parseNumber(const std::string& option, std::string_view text, long long min,
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

// The value of a host option: an address or a name, never empty.
inline std::string parseHost(const std::string& option, std::string value)
{
    if (value.empty()) {
        throw UsageError(option + ": the address is empty");
    }
    return value;
}

// A port from lowest (0 lets the system choose one, where a program allows it) to 65535.
inline std::uint16_t parsePort(const std::string& option, std::string_view text, int lowest)
{
    return static_cast<std::uint16_t>(parseNumber(option, text, lowest, 65535));
}

using gateway::readableBytes;

// Socket error messages carry a CR LF between number and text; tools print them on one line.
inline std::string oneLine(std::string_view message)
{
    std::string text;
    for (char c : message) {
        if (c == '\r') {
            continue;
        }
        text += c == '\n' ? ' ' : c;
    }
    return text;
}

using gateway::dottedIPv4;

} // namespace tools
