// The scheduling directive of a trigger file: "TIMING:D" followed by a date
// (yymmdd) and a time (HHMM) before which the message is not taken.
#pragma once

#include <string>

#include "platform/os/clock.h"

namespace velarion::spool {

// True when `head` (the trigger's first 500 characters) holds a directive
// whose date and time, compared as "yymmddHHMM" text, is later than `now`.
// A directive whose ten characters are not all digits holds nothing.
bool held_by_timing(const std::string& head, const DateTime& now);

}  // namespace velarion::spool
