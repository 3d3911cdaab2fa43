#pragma once

#include "gateway/base/Text.h"

namespace gateway {

// The seven values of a key request, each the attribute's text as the XML parser delivers it;
// a missing attribute is the empty text.
struct KeyRequestValues
{
    Text room;
    Text folio;
    Text encoder;
    Text keyCount;
    Text keyType;
    Text fromDateTime;
    Text toDateTime;
};

} // namespace gateway
