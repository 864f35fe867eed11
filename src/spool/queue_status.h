// What an installation holds, for the queue command and anyone who must see
// it: every message of the operator's triggers, waiting in the spool, held by
// its TIMING: directive or by a running agent's hold on its side of the mail
// service, in progress by an agent, deferred, kept back, or parked below
// "non_inviati". The list itself is small (names, states, times); what a
// message's header and record say is read for one message at a time, each
// read bounded, so that no spool content sets the memory the report takes.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/os/clock.h"
#include "spool/agent_note.h"
#include "spool/day_counts.h"

namespace velarion::spool {

enum class QueueState {
    waiting,
    held_transport,  // waiting while an agent holds sends back (server unreachable, logon refused)
    held_store,      // the same for drafts
    timing,
    in_progress,
    interrupted,
    deferred,
    on_hold,  // kept back by the operator (--hold)
    concluding,
    parked
};

// The word the queue command shows for a state ("in attesa", "rinviato", ...).
const char* state_name(QueueState s);
// The state's stable English key for --json and the metrics ("waiting", "on_hold", ...).
const char* state_key(QueueState s);
// Every state, in the report's order.
extern const QueueState kQueueStates[10];

struct QueuedMessage {
    std::string base;      // the trigger's name without ".T"
    QueueState state = QueueState::waiting;
    std::string agent;     // the agent working on it (in progress, interrupted)
    long long written = 0; // when its trigger was written (seconds since 1970, UTC); 0: not known
    std::string header;    // its header's path ("" when none)
    std::string folder;    // the parked message's folder
    int hold = -1;         // held_transport / held_store: the index of the agent's hold in the report
    std::string files;     // the folder of its spool files (the spool, or the parked copy's)

    // Read by read_details() (tries, last and next try and reason of a
    // message in the queue folder by read_queue, through its descriptor):
    std::string from;       // sender (header line 3)
    std::string to;         // recipients (header line 4)
    std::string subject;    // subject (header line 5)
    std::string reference;  // reference (header line 1)
    long long size = 0;     // bytes of its trigger, header, body and print file
    int tries = 0;
    long long last_try = 0;  // to_seconds, 0: none
    long long next_try = 0;  // to_seconds, 0: as soon as possible
    std::string reason;      // the last failure, the hold, or why it was parked
};

struct QueueReport {
    std::vector<QueuedMessage> messages;  // by state, then by name
    std::vector<SideHold> holds;          // the holds of the running agents of these operators
    DayCounts today;
    std::string refusal;  // why the queue folder was not read ("" when it was, or there is none)
};

// True when a message with the header's delivery option (line 7) and
// recipients (line 4) is a draft for the store rather than a send.
using DraftRule = std::function<bool(const std::string& option, const std::string& to)>;

// The messages of the triggers that begin with one of `prefixes` ("*" for
// all), in the spool folder `spool` and the work folder `work` (both ending
// in "/"), and the counts of the day `now`. With `draft` the messages a
// running agent holds back are told apart (their header's option is read).
QueueReport read_queue(const std::string& spool, const std::string& work, const std::vector<std::string>& prefixes,
                       const DateTime& now, const DraftRule& draft = {});

// Reads what the message's header (at most 1 MB, as message processing
// does), its record and its parking reason (a few KB each) say, and the size
// of its files; a message held with its side takes the hold's reason, tries
// and next try.
void read_details(const QueueReport& report, QueuedMessage& m);

// "server di posta non raggiungibile dalle 17:16" (or "accesso alla posta rifiutato ...").
std::string hold_text(const SideHold& h);

}  // namespace velarion::spool
