#pragma once

namespace gateway {

// The project's version, as CMake's project() gives it.
const char* projectVersion();

} // namespace gateway
