// The messages an agent was working on when it ended without finishing them
// (killed, crashed, the machine stopped): at each scan, before anything else,
// every such message of this operator is taken over. It is delivered again,
// which may send it a second time when the agent ended between the send and
// its record; one that two agents ended on is parked instead, so that a
// message that crashes the agent cannot stop it for good.
#pragma once

#include <string>
#include <vector>

namespace velarion::spool {

struct SettleContext;

// Takes over the queue's messages of the operators (prefixes as for
// operator_trigger) whose agents are gone, and finishes the concluded ones.
void recover_claims(SettleContext& c, const std::vector<std::string>& prefixes);

// True when the trigger's name, in upper case, begins with one of the
// prefixes followed by "." ("*": every name).
bool operator_trigger(const std::string& name, const std::vector<std::string>& prefixes);

}  // namespace velarion::spool
