#include "tools/support/SoakAnswers.h"

#include "gateway/base/Text.h"
#include "gateway/protocol/KeyAnswer.h"
#include "gateway/protocol/ResultCode.h"
#include "tools/support/RoomCodes.h"

#include <string>

namespace tools {

SoakAnswer classifySoakAnswer(std::string_view room, std::string_view answer)
{
    const gateway::Text code = gateway::fromUtf8(codeForRoom(room));
    if (answer == gateway::toUtf8(gateway::makeKeyAnswer(code))) {
        return gateway::isSuccessCode(code) ? SoakAnswer::Made : SoakAnswer::NotMade;
    }
    if (answer == gateway::toUtf8(gateway::makeKeyAnswer(gateway::Text()))) {
        return SoakAnswer::EmptyCode;
    }
    return SoakAnswer::Wrong;
}

} // namespace tools
