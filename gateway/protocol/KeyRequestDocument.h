#pragma once

#include "gateway/base/Text.h"
#include "gateway/protocol/KeyRequestValues.h"

namespace gateway {

// Loads a request text as XML (non-validating, no network, no external DTD or entities,
// bounded entity expansion), finds the "keyrequest" element and reads its seven values in
// order. Throws EDOMParseError or EXMLDocError. Each call has a document of its own; the XML
// library is set up by the first call (initXmlLibrary), so any thread may make it.
KeyRequestValues readKeyRequest(TextView requestText);

// The first loading step: takes an encoding pseudo-attribute out of the first 50 characters
// unless it names UTF-16, UCS-2 or UNICODE, then removes a leading U+FEFF.
Text prepareRequestText(TextView requestText);

} // namespace gateway
