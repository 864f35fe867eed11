// The record of a message in the spool's queue folder ("coda/<trigger>.stato"):
// how often an agent ended while working on it, how often it failed for a
// temporary reason and since when, and when it is to be tried next. Only the
// agent that holds the message's trigger writes it.
#pragma once

#include <string>

namespace velarion::spool {

struct QueueRecord {
    int interruptions = 0;         // agents that ended (killed, crashed) while working on it
    int tries = 0;                 // temporary failures so far
    long long first_failure = 0;   // time of the first temporary failure (to_seconds), 0 before it
    long long next_try = 0;        // not to be tried before this time (to_seconds)
    long long last_try = 0;        // the last temporary failure (to_seconds), 0 before it
    std::string reason;            // the last failure, one line
    bool delivering = false;       // an agent handed it to its transport and has not recorded the outcome
    bool maybe_delivered = false;  // it may have reached its server already (no answer after the data,
                                   // or an agent ended after the end of its data was sent)
    std::string message_id;        // its own Message-ID (without brackets), the same at every try
    bool accepted = false;         // its transport or store accepted it, and the concluding rename failed:
                                   // it is concluded, never handed to a transport again
};

// "key=value" lines; unknown keys and bad numbers read as absent. A key
// given twice reads as its last value, so lines appended to a record change
// only the keys they name.
std::string format_record(const QueueRecord& r);
QueueRecord parse_record(const std::string& text);

// Lines appended to a record. They begin with a line end, so that they
// start a line of their own whatever the record ends with.
// The Message-ID made at a message's first try:
std::string message_id_lines(const std::string& message_id);
// The moment the end of its data goes to its server: "in_consegna=1", and
// the Message-ID made for this try when `message_id` is not empty.
std::string delivering_lines(const std::string& message_id);

}  // namespace velarion::spool
