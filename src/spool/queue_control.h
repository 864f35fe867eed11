// The operator's hand on the queue, as Postfix's postsuper -h/-H and
// postqueue -f give it: keep a message back, let it go, try now. Each change
// is one rename in the queue folder, safe beside running agents.
#pragma once

#include <string>
#include <vector>

namespace velarion {

struct Runtime;

namespace spool {

struct ControlResult {
    bool ok = false;
    std::string base;
    std::string text;  // what was done, or why not
};

// Keeps the message `base` back: a trigger waiting in the spool or a deferred
// one goes to coda/<trigger>@sospeso, where no agent takes it.
ControlResult hold(const std::string& spool, const std::string& base);
// Lets a kept message go: back to the spool, or, with tries behind it, to
// the deferred ones, due at once.
ControlResult release(const std::string& spool, const std::string& base);
// Makes the deferred message `base` (every deferred message of the triggers
// with one of `prefixes`, for "all") due at once, and asks every running
// agent of the spool to end a hold on delivery at its next tick.
std::vector<ControlResult> retry_now(const std::string& spool, const std::vector<std::string>& prefixes,
                                     const std::string& base);

// The bases of the operator's messages (triggers beginning with one of
// `prefixes`, "*" for all) that wait in the spool or are deferred, for
// hold ALL and delete ALL; with kept_only those kept back, for release ALL.
std::vector<std::string> operator_bases(const std::string& spool, const std::vector<std::string>& prefixes,
                                        bool kept_only);

// Removes the message `base` from the queue as postsuper -d does, but keeps
// it: a message waiting in the spool, deferred or kept back is parked below
// `work`/non_inviati with the reason "rimosso dall'operatore", and its spool
// files go only once the parked copy is whole. A message an agent works on
// is left alone.
ControlResult remove(Runtime& rt, const std::string& spool, const std::string& work, const std::string& base);

inline constexpr const char* kRemovedReason = "rimosso dall'operatore";

}  // namespace spool
}  // namespace velarion
