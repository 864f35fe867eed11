// State of the spool scan that lasts for the run.
#pragma once

#include <map>
#include <string>

#include "delivery/delivery_outcome.h"
#include "spool/day_counts.h"

namespace velarion {

// While one side of the mail service (the store or the transport) cannot be
// reached or refuses the account, no message that needs it is tried: they
// wait until `until`, with the retry delays growing. The other side goes on.
struct DeliveryHold {
    Delivered kind = Delivered::yes;  // server_down or logon_refused while it holds
    int failures = 0;                 // failures in a row; 0: no hold
    long long until_ms = 0;           // no delivery before this time (Clock::monotonic_ms)
    std::string reason;               // the last failure
    long long since = 0;              // its first failure (to_seconds, wall clock)
    long long next_try = 0;           // the next try (to_seconds, wall clock), for the queue report
    bool asked = false;               // a try was asked for (--retry-now, switched on): its outcome is said

    bool active() const { return failures > 0; }
};

// A message this run has put off. Waits within a run are measured on the
// monotonic clock, so that a step of the wall clock neither stalls nor
// hurries them; the queue's record keeps wall-clock times for other runs.
struct PutOff {
    long long due_ms = 0;             // not to be tried before this (Clock::monotonic_ms); 0: no wait known
    long long first_failure_ms = -1;  // its first temporary failure in this run; -1: none yet
    int setbacks = 0;                 // waits in a row for space or a folder of the installation
};

struct RunState {
    bool work_dir_cleaned = false;  // the work directory was emptied in this run
    int cleaned_day = 0;            // on this day (yyyymmdd; 0: not known), so that a new day empties it again
    bool aix = false;               // "so:AIX", or the marker file seen: processed files are renamed ".FATTO"
    DeliveryHold store_hold;        // drafts wait
    DeliveryHold transport_hold;    // sends wait
    std::map<std::string, Target> held_for;  // by trigger: the side a message last waited for

    DeliveryHold& hold(Target t) { return t == Target::store ? store_hold : transport_hold; }
    const DeliveryHold& hold(Target t) const { return t == Target::store ? store_hold : transport_hold; }
    std::string refusal;            // unattended: the check that stopped the last scan, said once
    std::map<std::string, PutOff> put_off;  // by trigger name
    bool partial_parkings_checked = false;  // the half-made parked folders of ended agents were looked for
    std::string space_trouble;      // the lack of space last said ("" while there is room)
    int tracking_pruned_day = 0;    // the record of sent messages was pruned on this day (yyyymmdd)
    bool store_full = false;        // the drafts store was said to be full (until a draft is stored)
    std::string warning;            // the warning last shown ("" while none)
    spool::DayCounts settled;       // what this agent settled since it started (the metrics' counters)
    std::string noted;              // what the agent's lock file last said of it (agent_note.h)
    long long temporaries_due_ms = 0;  // when the queue is next looked at for stale temporaries (Clock::monotonic_ms)
    long long liveness_due_ms = 0;     // when the other agents' locks are next looked at (Clock::monotonic_ms)
};

}  // namespace velarion
