// The messages an agent was working on when it ended without finishing them
// (killed, crashed, the machine stopped): at the first scan, and then before
// anything else at the first scan once kLivenessMs have passed since the last
// look at the other agents' locks, every such message of this operator is
// taken over. It is delivered again,
// which may send it a second time when the agent ended between the send and
// its record; one that two agents ended on is parked instead, so that a
// message that crashes the agent cannot stop it for good.
#pragma once

#include <string>
#include <vector>

#include "spool/queue.h"

namespace velarion::spool {

struct SettleContext;

// How often an idle agent looks whether the other agents of its queue still
// run: a killed agent's messages are taken over at most this long after its
// end (and a tick), by the monotonic clock.
constexpr long long kLivenessMs = 5000;

// Takes over the queue's messages (`entries`, as listed at this scan) of the
// operators (prefixes as for operator_trigger) whose agents are gone, and
// finishes the concluded ones.
void recover_claims(SettleContext& c, const std::vector<std::string>& prefixes,
                    const std::vector<SpoolQueue::Entry>& entries);

// True when the queue holds a message of the operators that recover_claims
// finishes whatever the other agents do: one this agent itself holds (a scan
// that ended on an error) or one concluded by nobody or by this agent. Those
// are taken care of at every scan, not only when the other agents are looked at.
bool own_claims_left(const std::vector<SpoolQueue::Entry>& entries, const std::vector<std::string>& prefixes,
                     const std::string& agent);

// True when the trigger's name, in upper case, begins with one of the
// prefixes followed by "." ("*": every name).
bool operator_trigger(const std::string& name, const std::vector<std::string>& prefixes);

}  // namespace velarion::spool
