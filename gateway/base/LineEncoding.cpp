#include "gateway/base/LineEncoding.h"

namespace gateway {

std::string encodeLine(TextView text)
{
    std::string bytes(text.size() + 2, '?');
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] < 0x80) {
            bytes[i] = static_cast<char>(text[i]);
        }
    }
    bytes[text.size()] = '\r';
    bytes[text.size() + 1] = '\n';
    return bytes;
}

Text decodeBytes(std::string_view bytes)
{
    Text text(bytes.size(), u'\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        auto b = static_cast<unsigned char>(bytes[i]);
        text[i] = b < 0x80 ? static_cast<char16_t>(b) : u'\uFFFD';
    }
    return text;
}

} // namespace gateway
