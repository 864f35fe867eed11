// State of the spool scan that lasts for the run.
#pragma once

#include <string>

#include "delivery/delivery_outcome.h"

namespace velarion {

// While the mail server cannot be reached or refuses the account, no message
// is tried: delivery waits until `until`, with the retry delays growing.
struct DeliveryHold {
    Delivered kind = Delivered::yes;  // server_down or logon_refused while it holds
    int failures = 0;                 // failures in a row; 0: no hold
    long long until = 0;              // no delivery before this time (to_seconds)
    std::string reason;               // the last failure

    bool active() const { return failures > 0; }
};

struct RunState {
    bool work_dir_cleaned = false;  // the work directory was emptied in this run
    int cleaned_day = 0;            // on this day (yyyymmdd; 0: not known), so that a new day empties it again
    bool aix = false;               // "so:AIX", or the marker file seen: processed files are renamed ".FATTO"
    DeliveryHold hold;
    std::string refusal;            // unattended: the check that stopped the last scan, said once
};

}  // namespace velarion
