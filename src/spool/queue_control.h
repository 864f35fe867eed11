// The operator's hand on the queue, as Postfix's postsuper -h/-H and
// postqueue -f give it: keep a message back, let it go, try now. Each change
// is one rename in the queue folder, safe beside running agents.
#pragma once

#include <string>
#include <vector>

namespace velarion::spool {

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

}  // namespace velarion::spool
