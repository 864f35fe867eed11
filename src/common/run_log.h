// The run log: the activity list appended to the day's log file below the
// work directory ("log/velarion_log_<weekday>_<dd>.txt"), one file per
// weekday in a rolling week.
#pragma once

#include <string>

#include "platform/os/clock.h"

namespace velarion {

struct Runtime;

// Log flush: appends every line of the activity list to today's log file and
// empties the list. When the file cannot be written (or there is no work
// directory) the lines stay in the list for the next flush.
void flush_log(const Runtime& rt);

// Italian weekday abbreviation: 0 = "dom" ... 6 = "sab".
std::string weekday_abbreviation(int weekday);

// "velarion_log_" + weekday + "_" + dd + ".txt" for the given day.
std::string log_file_name(const DateTime& day);

}  // namespace velarion
