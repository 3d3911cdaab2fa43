#pragma once

#include "gateway/platform/ProcessFacts.h"

// Under Wine a receive after the peer's reset ends the stream instead of failing with 10054, as
// Windows itself does; a test that depends on seeing the reset is skipped there, and only there.
inline constexpr const char* resetUnseenUnderWine =
    "Wine reports a receive after the peer's reset as the end of the stream, not as error 10054 "
    "(Windows reports 10054); needs a real Windows machine";
