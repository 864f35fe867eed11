// Handing a parked message back to the spool: `velarion --resubmit FOLDER`.
// The spool files kept in FOLDER/originale go back to the spool folder named
// in FOLDER/motivo.txt (the trigger last, each file complete before its name
// appears), and FOLDER is removed; the agent then takes the message as a new
// one. FOLDER may also be a folder of parked messages ("non_inviati"): each
// one in it is handed back.
#pragma once

#include <string>
#include <vector>

namespace velarion::spool {

struct Resubmitted {
    bool ok = false;
    std::string folder;  // the parked message's folder
    std::string text;    // what was done, or why not
};

// Hands back the message parked in `folder`, or every message parked below
// it. A message whose motivo.txt says it may have been delivered already is
// handed back only with `force`. Nothing is handed back while any file of
// its name is in the spool folder (a new message of the same name, maybe
// still being written) or its trigger is in the queue.
std::vector<Resubmitted> resubmit(const std::string& folder, bool force = false);

}  // namespace velarion::spool
