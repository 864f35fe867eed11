// A message its transport or store has accepted is recorded as concluded at
// once, before any activity line or count, so that a kill right after the
// server's answer leaves as little as the rename itself. When that rename
// fails (a full or read-only spool file system), the message's record says
// it was accepted and the run keeps it in memory, trying the rename again
// until it succeeds: it is never handed to a transport again, by this agent
// or another.
#pragma once

#include <string>

namespace velarion::spool {

struct Claimed;
struct SettleContext;

// The transport accepted the message `m` (which the caller marks accepted).
// Never throws.
void record_accepted(SettleContext& c, const Claimed& m) noexcept;

// Tries again the conclusions this run keeps in memory; true when none is left.
bool conclude_unrecorded(SettleContext& c);

// True while this run keeps the conclusion of this trigger in memory.
bool unrecorded(const SettleContext& c, const std::string& trigger);

}  // namespace velarion::spool
