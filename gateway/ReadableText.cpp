#include "gateway/ReadableText.h"

namespace gateway {

std::string readableBytes(std::string_view bytes)
{
    static constexpr char hexDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() + 16);
    for (char c : bytes) {
        auto byte = static_cast<unsigned char>(c);
        if (byte == 0x02) {
            text += "<STX>";
        } else if (byte == 0x03) {
            text += "<ETX>";
        } else if (byte == 0x04) {
            text += "<EOT>";
        } else if (byte < 0x20 || byte > 0x7E) {
            text += "<0x";
            text += hexDigits[byte >> 4];
            text += hexDigits[byte & 0x0F];
            text += '>';
        } else {
            text += c;
        }
    }
    return text;
}

} // namespace gateway
