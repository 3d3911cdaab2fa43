#pragma once

namespace gateway {

// Sets the XML library up: once per process, safe from any thread. Every user of the library
// calls it before its first call into it (readKeyRequest and DocumentProgress do), so no
// program has to remember to.
void initXmlLibrary();

} // namespace gateway
