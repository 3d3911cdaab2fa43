#include "gateway/base/ReadableText.h"

#include "gateway/base/Errors.h"
#include "gateway/base/SocketErrorText.h"

#include <algorithm>

namespace gateway {

namespace {

bool isControl(unsigned code)
{
    return code < 0x20 || code == 0x7F;
}

void appendReadable(std::string& text, unsigned char byte)
{
    static constexpr char hexDigits[] = "0123456789ABCDEF";
    switch (byte) {
    case 0x02:
        text += "<STX>";
        return;
    case 0x03:
        text += "<ETX>";
        return;
    case 0x04:
        text += "<EOT>";
        return;
    case 0x0D:
        text += "<CR>";
        return;
    case 0x0A:
        text += "<LF>";
        return;
    default:
        text += "<0x";
        text += hexDigits[byte >> 4];
        text += hexDigits[byte & 0x0F];
        text += '>';
    }
}

// Without a final period and ASCII case, the system's words often repeat the table's text
// ("Connection refused"): then they are left out.
bool saysMore(std::string_view systemText, std::string_view tableText)
{
    auto stem = [](std::string_view text) {
        return text.empty() || text.back() != '.' ? text : text.substr(0, text.size() - 1);
    };
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    const std::string_view a = stem(systemText);
    const std::string_view b = stem(tableText);
    return !a.empty() && !std::equal(a.begin(), a.end(), b.begin(), b.end(),
                                     [&](char x, char y) { return lower(x) == lower(y); });
}

// A socket error without a table text ends in the blank its CR LF became.
void trimEnd(std::string& line)
{
    while (!line.empty() && line.back() == ' ') {
        line.pop_back();
    }
}

} // namespace

std::string readableBytes(std::string_view bytes)
{
    std::string text;
    text.reserve(bytes.size() + 16);
    for (char c : bytes) {
        auto byte = static_cast<unsigned char>(c);
        if (isControl(byte) || byte > 0x7E) {
            appendReadable(text, byte);
        } else {
            text += c;
        }
    }
    return text;
}

std::string oneLine(std::string_view message)
{
    std::string line;
    line.reserve(message.size());
    for (char c : message) {
        if (c != '\r') {
            line += c == '\n' ? ' ' : c;
        }
    }
    return line;
}

std::string describeFailure(const std::exception& failure)
{
    const auto* known = dynamic_cast<const Exception*>(&failure);
    std::string line =
        std::string(known ? known->className() : "error") + ": " + oneLine(failure.what());
    if (const auto* socketError = dynamic_cast<const EIdSocketError*>(&failure)) {
        if (saysMore(socketError->systemText(), socketErrorText(socketError->number()))) {
            trimEnd(line);
            line += " (system: " + oneLine(socketError->systemText()) + ")";
        }
    } else if (const auto* bindError = dynamic_cast<const EIdCouldNotBindSocket*>(&failure);
               bindError && bindError->number() != 0) {
        // The message names the usual cause; this names the real one.
        std::string reason = oneLine(socketErrorMessage(bindError->number()));
        trimEnd(reason);
        if (saysMore(bindError->systemText(), socketErrorText(bindError->number()))) {
            reason += "; " + oneLine(bindError->systemText());
        }
        line += " (system: " + reason + ")";
    }
    return line;
}

std::string readableText(TextView text)
{
    std::string readable;
    readable.reserve(text.size() + 16);
    std::size_t plainFrom = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isControl(text[i])) {
            readable += toUtf8(text.substr(plainFrom, i - plainFrom));
            appendReadable(readable, static_cast<unsigned char>(text[i]));
            plainFrom = i + 1;
        }
    }
    readable += toUtf8(text.substr(plainFrom));
    return readable;
}

} // namespace gateway
