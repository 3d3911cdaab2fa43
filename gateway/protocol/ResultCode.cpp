#include "gateway/protocol/ResultCode.h"

namespace gateway {

namespace {
constexpr std::size_t codeStart = 12;
constexpr std::size_t codeLength = 3;
} // namespace

Text resultCode(TextView reply)
{
    if (reply.size() <= codeStart) {
        return {};
    }
    return Text(reply.substr(codeStart, codeLength));
}

bool isSuccessCode(TextView code)
{
    return code == u"001" || code == u"002";
}

} // namespace gateway
