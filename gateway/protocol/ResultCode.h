#pragma once

#include "gateway/base/Text.h"

namespace gateway {

// Characters 13 to 15 (from 1) of the reply: empty for 12 characters or fewer, shortened for
// 13 or 14.
Text resultCode(TextView reply);
// Exactly "001" or "002".
bool isSuccessCode(TextView code);

} // namespace gateway
