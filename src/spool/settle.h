// What becomes of a message the scan worked on, by its outcome: delivered
// (its spool files go), parked below "non_inviati", tried again after a
// growing delay, or left in the queue while the mail server cannot be
// reached or refuses the account (then no message is tried for a while).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "delivery/delivery_outcome.h"
#include "spool/queue_record.h"

namespace velarion {

struct Runtime;
struct RunState;
struct DeliveryHold;

namespace spool {

class SpoolQueue;

// One message this agent holds.
struct Claimed {
    std::string trigger;                        // the trigger's name in the spool folder
    std::string base;                           // the trigger's name without ".T"
    std::vector<std::string> spool_files;       // its other spool files (full paths)
    std::vector<std::string> links;             // spool files that are no plain file (links, special files): never read, removed
    std::vector<std::string> attachment_names;  // the header's attachment lines, when read
    std::string option;                         // its delivery option, when read ("SAVE": a draft)
    bool accepted = false;                      // its transport accepted it, and record_accepted was called
};

// Delivered messages whose spool files wait for one sync of the queue folder
// that covers them all: the scan's messages go in batches, so that a sync to
// disk is not paid for each of them. A batch ends at the end of each scan and
// once it holds kMessages or is kMilliseconds old.
struct ConcludedBatch {
    static constexpr std::size_t kMessages = 64;
    static constexpr long long kMilliseconds = 1000;
    std::vector<Claimed> messages;
    long long since_ms = 0;  // when its first message was concluded (Clock::monotonic_ms)
    // Accepted by their transports, their concluding rename failed: tried
    // again until it succeeds (accepted.h); none of them is sent again.
    std::vector<Claimed> unrecorded;
};

// The spool folder, work folder and queue a message is settled in.
struct SettleContext {
    Runtime& rt;
    RunState& run;
    SpoolQueue& queue;
    std::string work;
    // Writes the activity lines to the run log; called before each change of
    // a message's place that a kill could cut short (empty: nothing written).
    std::function<void()> save_log = {};
    // Where a delivered message waits for its batch's sync; none: it is synced alone.
    ConcludedBatch* batch = nullptr;

    void log_now() const {
        if (save_log) save_log();
    }
};

void settle(SettleContext& c, const Claimed& m, const DeliveryOutcome& outcome);

// Ends the batch: one sync puts the records of its messages on disk, then
// their spool files go. When the sync fails they stay, and the next scan
// finds them concluded (recovery.h).
void finish_batch(SettleContext& c);

// A message went through (or its record did): a lack of space said before is over, with one line.
void space_again(SettleContext& c);

// Parks the message: its work files and its spool files as they were go to
// a folder below "non_inviati" with the reason; then its spool files go.
// When the folder cannot be made whole (no room, a folder gone), nothing is
// parked: the message waits in the queue for a later try.
void park(SettleContext& c, const Claimed& m, const std::string& reason);

// The installation keeps the message from going now (`trouble`: lack of
// space or a missing folder, installation.h): it waits in the queue for a
// later try with the retry delays, and is never parked for it. A lack of
// space is said once until there is room again.
void wait_for_installation(SettleContext& c, const Claimed& m, const std::string& trouble);

// True when a message waiting in the queue with this record is to be tried
// now: its wait in this run is over on the monotonic clock, or, for a wait
// set by another run, the record's time has come or lies further ahead than
// the longest retry delay (the wall clock was stepped back since).
bool retry_due(const SettleContext& c, const std::string& trigger, const QueueRecord& record);

// Records that the message is being handed to its transport, so that an
// agent that takes it over after a crash knows it may have gone; with
// message_id (one made for this try, which the record does not hold yet),
// the Message-ID too.
void mark_delivering(SettleContext& c, const Claimed& m, const std::string& message_id = "");

// The queue's record says the message is delivered or parked: its spool
// files go (or are renamed ".FATTO" on an AIX host), then the trigger.
void remove_spool_files(SettleContext& c, const Claimed& m, const std::vector<std::string>& files);

// True while no delivery through that side of the mail service is to be
// tried (it could not be reached or refused the account, and the next try's
// time has not come).
bool delivery_held(const RunState& run, Target side, long long now_ms);

// The hold in words with its start: "server di posta non raggiungibile dalle 17:16".
std::string hold_since(const DeliveryHold& h);
// Sets the warning look (tray icon, its tip, the status line) to what the
// holds are now: "N in attesa, <hold_since>" while one is on, none after.
// Called at every change and after every scan, so that the count stays true.
void show_hold(SettleContext& c);

// The longest of the retry delays, in seconds.
long long longest_delay(const Runtime& rt);

}  // namespace spool
}  // namespace velarion
