// A message's own identity for the mail it becomes: a Message-ID made at its
// first try and kept in its queue record, so that every later try (by this
// agent or another) sends or stores the same one. Delivery reports name it,
// and a draft stored by a try whose answer never came is found by it.
#pragma once

#include <string>

namespace velarion::spool {

class SpoolQueue;

// "<base>.<12 hex digits>@<host>": the base name with anything a Message-ID
// cannot hold made "_", a random part, and this machine's name.
std::string make_message_id(const std::string& base);

struct MessageIdentity {
    std::string message_id;
    // A try before this one may have stored the message already: it was
    // interrupted, or failed after handing the message over.
    bool maybe_stored = false;
};

// The identity kept in the record of the queue entry `trigger`, made and
// written there at the first try.
MessageIdentity message_identity(SpoolQueue& queue, const std::string& trigger, const std::string& base);

}  // namespace velarion::spool
