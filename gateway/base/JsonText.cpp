#include "gateway/base/JsonText.h"

#include <cstdio>

namespace gateway {

std::string jsonString(std::string_view utf8)
{
    std::string json;
    json.reserve(utf8.size() + 2);
    json += '"';
    for (const char c : utf8) {
        switch (c) {
        case '"':
            json += "\\\"";
            break;
        case '\\':
            json += "\\\\";
            break;
        case '\b':
            json += "\\b";
            break;
        case '\f':
            json += "\\f";
            break;
        case '\n':
            json += "\\n";
            break;
        case '\r':
            json += "\\r";
            break;
        case '\t':
            json += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(c));
                json += escape;
            } else {
                json += c;
            }
        }
    }
    json += '"';
    return json;
}

} // namespace gateway
