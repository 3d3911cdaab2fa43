#include "gateway/base/Errors.h"

#include "gateway/base/SocketErrorText.h"

#include <utility>

namespace gateway {

EIdSocketError::EIdSocketError(int number, std::string systemText)
    : EIdException(socketErrorMessage(number)), m_number(number),
      m_systemText(std::move(systemText))
{
}

void throwSocketError(int number, std::string systemText)
{
    if (number == 10038) {
        throw EIdNotASocket(number, std::move(systemText));
    }
    throw EIdSocketError(number, std::move(systemText));
}

} // namespace gateway
