#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace gateway {

// A bad command line; the message names the option and what is wrong with it.
class UsageError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Walks "--name value" and "--name=value" options in order; argv[0] is the program.
class OptionReader
{
public:
    OptionReader(int argc, const char* const* argv) : m_argc(argc), m_argv(argv) {}

    bool atEnd() const { return m_index >= m_argc; }
    // The next option's name; a word that is not an option is a usage error.
    std::string next();
    // The value of the option just read, from "=value" or the following word.
    std::string value();
    // For options that take no value: "--quiet=yes" is refused rather than ignored.
    void noValue() const;
    const std::string& name() const { return m_name; }

private:
    int m_argc;
    const char* const* m_argv;
    int m_index = 1;
    std::string m_name;
    std::optional<std::string> m_inlineValue;
};

// A whole decimal number from min to max, or a usage error that says so.
long long parseNumber(const std::string& option, std::string_view text, long long min,
                      long long max);
// The value of a host option: an IPv4 address or a host name, never empty.
std::string parseHost(const std::string& option, std::string value);
// A port from lowest (0 lets the system choose one, where a program allows it) to 65535.
std::uint16_t parsePort(const std::string& option, std::string_view text, int lowest);

} // namespace gateway
