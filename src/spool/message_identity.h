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
    // Made now and not yet in the record (see message_identity).
    bool unwritten = false;
};

// The identity kept in the record of the queue entry `trigger`, made at the
// first try. write_now: written there at once, as a draft needs before it is
// stored (a later try looks for it); otherwise the caller writes it with the
// mark that the end of the data went out (mark_delivering), saving a record
// write per sent message: a try that ends before that sent nothing a later
// one could repeat.
MessageIdentity message_identity(SpoolQueue& queue, const std::string& trigger, const std::string& base,
                                 bool write_now = true);

}  // namespace velarion::spool
