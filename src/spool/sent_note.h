// What the scan records of a message the transport accepted: its line in
// the day's record of sent messages (sent_record.h), made from its delivery
// request and outcome.
#pragma once

#include <string>

#include "delivery/delivery_outcome.h"
#include "delivery/delivery_request.h"
#include "spool/sent_record.h"

namespace velarion {
struct Runtime;
struct RunState;
}

namespace velarion::spool {

// A sent message as recorded, with where its documents and body are now.
struct SentNote {
    SentMessage record;  // its time is set when it is written
    std::vector<std::string> document_paths;
    std::string body;
};

SentNote sent_message(const DeliveryRequest& r, const DeliveryOutcome& o, const std::string& base);

// Appends it to today's record and keeps a copy of its documents and body
// (for --resend); on the first message of a day, the days past "giorni" of
// section "DSN" go. A record that cannot be written gets a line; a message
// written by --resend says which it replaces.
void note_sent(Runtime& rt, RunState& run, const std::string& work, SentNote& m);

}  // namespace velarion::spool
