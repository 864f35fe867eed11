// What became of each sent message, per recipient: the record of sent
// messages joined with the outcomes read from delivery reports. The track
// command shows it; the queue summary counts the day's bounces from it.
#pragma once

#include <string>
#include <vector>

#include "spool/sent_record.h"

namespace velarion::spool {

enum class RecipientState {
    accepted,   // the server took it; no report has come
    delayed,    // a report says delivery is delayed (it is still tried)
    delivered,  // delivered, relayed or expanded by a report
    bounced,    // a report says it failed
};

struct RecipientTrack {
    std::string address;
    RecipientState state = RecipientState::accepted;
    ReportedOutcome report;  // the report that says so (empty while accepted)
};

struct TrackedMessage {
    SentMessage sent;
    std::vector<RecipientTrack> recipients;
};

// The messages sent from `since` (yyyymmdd) on, oldest first; `base` empty
// or "all" for every one, else that base name alone.
std::vector<TrackedMessage> track(const std::string& work, int since, const std::string& base);

// The state an action of a report gives (action in any case).
RecipientState state_of_action(const std::string& action);

// How many recipients' bounces were read on the day.
int bounced_on(const std::string& work, int yyyymmdd);

}  // namespace velarion::spool
