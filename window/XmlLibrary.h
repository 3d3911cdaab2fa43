#pragma once

#include "gateway/KeyRequestDocument.h"

namespace window {

// The XML library that reads key requests, set up before the listener's threads use it.
class XmlLibrary
{
public:
    XmlLibrary() { gateway::initXmlLibrary(); }
};

} // namespace window
