#include "server/WindowsCommandLine.h"

namespace server {

std::string quoteWindowsArgument(std::string_view word)
{
    if (!word.empty() && word.find_first_of(" \t\n\v\"") == std::string_view::npos) {
        return std::string(word);
    }
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : word) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are literal unless a quote follows them.
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    // Before the closing quote every backslash is doubled, so none escapes it.
    quoted.append(backslashes * 2, '\\');
    quoted += '"';
    return quoted;
}

std::string windowsCommandLine(const std::vector<std::string>& words)
{
    std::string line;
    for (const std::string& word : words) {
        if (!line.empty()) {
            line += ' ';
        }
        line += quoteWindowsArgument(word);
    }
    return line;
}

} // namespace server
