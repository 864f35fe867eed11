// What an installation holds, for the queue command and anyone who must see
// it: every message of the operator's triggers, waiting in the spool, held by
// its TIMING: directive, in progress by an agent, deferred, kept back, or
// parked below "non_inviati", each with what its header and record say.
#pragma once

#include <string>
#include <vector>

#include "platform/os/clock.h"
#include "spool/day_counts.h"

namespace velarion::spool {

enum class QueueState { waiting, timing, in_progress, interrupted, deferred, held, concluding, parked };

// The word the queue command shows for a state ("in attesa", "rinviato", ...).
const char* state_name(QueueState s);

struct QueuedMessage {
    std::string base;      // the trigger's name without ".T"
    QueueState state = QueueState::waiting;
    std::string agent;     // the agent working on it (in progress, interrupted)
    std::string to;        // recipients (header line 4)
    std::string subject;   // subject (header line 5)
    std::string reference; // reference (header line 1)
    int tries = 0;
    long long last_try = 0;  // to_seconds, 0: none
    long long next_try = 0;  // to_seconds, 0: as soon as possible
    std::string reason;      // the last failure, or why it was parked
    std::string folder;      // the parked message's folder
    long long written = 0;   // when its trigger was written (seconds since 1970, UTC); 0: not known
};

struct QueueReport {
    std::vector<QueuedMessage> messages;  // by state, then by name
    DayCounts today;
    std::string refusal;  // why the queue folder was not read ("" when it was, or there is none)
};

// The messages of the triggers that begin with one of `prefixes` ("*" for
// all), in the spool folder `spool` and the work folder `work` (both ending
// in "/"), and the counts of the day `now`.
QueueReport read_queue(const std::string& spool, const std::string& work, const std::vector<std::string>& prefixes,
                       const DateTime& now);

}  // namespace velarion::spool
