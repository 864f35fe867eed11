// What becomes of a message the scan worked on, by its outcome: delivered
// (its spool files go), parked below "non_inviati", tried again after a
// growing delay, or left in the queue while the mail server cannot be
// reached or refuses the account (then no message is tried for a while).
#pragma once

#include <string>
#include <vector>

#include "delivery/delivery_outcome.h"

namespace velarion {

struct Runtime;
struct RunState;

namespace spool {

class SpoolQueue;

// One message this agent holds.
struct Claimed {
    std::string trigger;                        // the trigger's name in the spool folder
    std::string base;                           // the trigger's name without ".T"
    std::vector<std::string> spool_files;       // its other spool files (full paths)
    std::vector<std::string> links;             // spool files that are no plain file (links, special files): never read, removed
    std::vector<std::string> attachment_names;  // the header's attachment lines, when read
};

// The spool folder, work folder and queue a message is settled in.
struct SettleContext {
    Runtime& rt;
    RunState& run;
    SpoolQueue& queue;
    std::string work;
};

void settle(SettleContext& c, const Claimed& m, const DeliveryOutcome& outcome);

// Parks the message: its work files and its spool files as they were go to
// a folder below "non_inviati" with the reason; then its spool files go.
// When not even the folder can be made, the message waits for a later try.
void park(SettleContext& c, const Claimed& m, const std::string& reason);

// The queue's record says the message is delivered or parked: its spool
// files go (or are renamed ".FATTO" on an AIX host), then the trigger.
void remove_spool_files(SettleContext& c, const Claimed& m, const std::vector<std::string>& files);

// True while no delivery is to be tried (the mail server could not be
// reached or refused the account, and the next try's time has not come).
bool delivery_held(const RunState& run, long long now);

}  // namespace spool
}  // namespace velarion
