#include "gateway/Errors.h"

#include "gateway/SocketErrorText.h"

namespace gateway {

EIdSocketError::EIdSocketError(int number)
    : EIdException(socketErrorMessage(number)), m_number(number)
{
}

void throwSocketError(int number)
{
    if (number == 10038) {
        throw EIdNotASocket(number);
    }
    throw EIdSocketError(number);
}

} // namespace gateway
