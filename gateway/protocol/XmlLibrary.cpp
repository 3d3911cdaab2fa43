#include "gateway/protocol/XmlLibrary.h"

#include <libxml/parser.h>

#include <mutex>

namespace gateway {

void initXmlLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

} // namespace gateway
