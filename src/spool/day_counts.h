// What each agent settled today, kept in the work folder
// ("conteggi/conteggi_<yyyymmdd>_<agent>.txt", a week of them), so that the
// queue command can say how many messages went out without anyone reading a log.
#pragma once

#include <string>

namespace velarion::spool {

struct DayCounts {
    int delivered = 0;  // sent (or handed to the user)
    int saved = 0;      // stored as drafts
    int deferred = 0;   // temporary failures, each try counted
    int parked = 0;     // moved below "non_inviati"
    int bounced = 0;    // recipients' bounces read from delivery reports

    DayCounts& operator+=(const DayCounts& o);
};

enum class Counted { delivered, saved, deferred, parked, bounced };

// Adds one to this agent's count of the day `yyyymmdd` in the work folder. A count that cannot be written is skipped: it is no record of
// any message.
void count_today(const std::string& work, int yyyymmdd, Counted what);

// The counts of every agent of the work folder for the day.
DayCounts read_day_counts(const std::string& work, int yyyymmdd);

}  // namespace velarion::spool
