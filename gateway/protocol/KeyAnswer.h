#pragma once

#include "gateway/base/Text.h"

namespace gateway {

// The one-line key answer, without its line end: the success answer for "001" and "002",
// otherwise the failure answer carrying the code, escaped so the answer stays well-formed.
Text makeKeyAnswer(TextView resultCode);

} // namespace gateway
