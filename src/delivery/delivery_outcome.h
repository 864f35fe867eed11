// What became of one delivery, as the spool processing needs to know it to
// decide the message's next place: delivered, parked at once, tried again
// later, or left in the queue because the mail server or the account does not
// let any message through now.
#pragma once

#include <string>

#include "platform/os/error.h"

namespace velarion {

enum class Delivered {
    yes,            // sent, saved as a draft, or handed to the user
    failed,         // the message cannot go as it is (unknown recipient, missing PDF, 5xx): park it
    later,          // this message may go later as it is (SMTP 4xx, a connection lost while sending)
    server_down,    // the mail server cannot be reached: the message stays queued, every message waits
    logon_refused,  // the server refused the account (32003): the message stays queued
    // The whole message reached the server but its answer never came (a time-out or a
    // lost connection after the end of the data): it may have been delivered. It is
    // tried again only after the longest retry delay, and never silently re-sent.
    maybe_delivered,
    // The drafts store is full: the message waits as for a full disk, its
    // tries not counted towards the retry limit.
    no_room,
};

// The side of the mail service a delivery needs: the store keeps drafts, the
// transport sends. Each is held on its own when it cannot be reached.
enum class Target { store, transport };

struct DeliveryOutcome {
    Delivered result = Delivered::failed;
    std::string reason;  // what the activity line said, for the parking record and the retry lines
    Target target = Target::transport;  // for server_down and logon_refused: the side that failed
    std::string server_reply;  // a sent message: the SMTP server's answer to the end of its data

    DeliveryOutcome() = default;
    DeliveryOutcome(Delivered r, std::string why = "") : result(r), reason(std::move(why)) {}
    // No conversion from bool: a failure always says which kind it is and why.
    DeliveryOutcome(bool) = delete;

    bool delivered() const { return result == Delivered::yes; }
    explicit operator bool() const { return delivered(); }
};

// The outcome of a numbered error raised by a transport: the logon failure
// is the account's; others by what they say about trying again.
inline DeliveryOutcome outcome_of(const NumberedError& e) {
    if (e.number() == 32003) return {Delivered::logon_refused, e.what()};  // the MAPI logon failure
    switch (e.retry()) {
        case Retry::later: return {Delivered::later, e.what()};
        case Retry::server_down: return {Delivered::server_down, e.what()};
        case Retry::maybe_delivered: return {Delivered::maybe_delivered, e.what()};
        case Retry::no_room: return {Delivered::no_room, e.what()};
        case Retry::never: break;
    }
    return {Delivered::failed, e.what()};
}

// The outcome of the exception being handled (call inside catch): a
// numbered error by what it says, anything else a failure of the message.
inline DeliveryOutcome current_outcome() {
    try {
        throw;
    } catch (const NumberedError& e) {
        return outcome_of(e);
    } catch (const std::exception& e) {
        return {Delivered::failed, e.what()};
    } catch (...) {
        return {Delivered::failed, "errore sconosciuto"};
    }
}

}  // namespace velarion
