#include "gateway/base/SocketErrorText.h"

#include <algorithm>
#include <utility>

namespace gateway {

namespace {

constexpr std::pair<int, const char*> texts[] = {
#define VELMOR_SOCKET_ERROR(posixErrno, number, text) {number, text},
#include "gateway/base/SocketErrors.def"
#undef VELMOR_SOCKET_ERROR
};

} // namespace

std::string socketErrorText(int number)
{
    auto found = std::find_if(std::begin(texts), std::end(texts),
                              [number](const auto& entry) { return entry.first == number; });
    return found != std::end(texts) ? found->second : "";
}

std::string socketErrorMessage(int number)
{
    return "Socket Error # " + std::to_string(number) + "\r\n" + socketErrorText(number);
}

} // namespace gateway
