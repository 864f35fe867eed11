// What a running agent says on its own lock file (coda/agenti/<agent>) for
// the queue report: the operators whose messages it takes, and each side of
// the mail service it holds back while the server cannot be reached or
// refuses the account. Only that agent writes it; a file of an agent that is
// gone says nothing, since its lock is free.
#pragma once

#include <string>
#include <vector>

#include "delivery/delivery_outcome.h"

namespace velarion::spool {

struct SideHold {
    Target side = Target::transport;
    Delivered kind = Delivered::server_down;  // server_down or logon_refused
    long long since = 0;                      // its first failure (to_seconds)
    long long next_try = 0;                   // the next try (to_seconds)
    int failures = 0;                         // tries of the server since it began
    std::string reason;                       // the last failure
};

struct AgentNote {
    std::vector<std::string> prefixes;  // the operators' trigger prefixes ("*" for all)
    std::vector<SideHold> holds;
};

// "ope=AB,CD" and one "invio=..." / "archivio=..." line per hold.
std::string format_note(const AgentNote& note);
// Lines that do not parse are left out.
AgentNote parse_note(const std::string& text);

}  // namespace velarion::spool
