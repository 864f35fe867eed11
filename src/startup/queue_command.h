// The queue commands, as Postfix's users know them from postqueue and
// postsuper: --queue [--json] lists what the installation holds,
// --retry-now [BASE|all], --hold/--release/--delete BASE...|ALL steer it, and
// --resubmit BASE hands a parked message back by its name. They read the
// operator's folders from velarion.ini (ini:DIR ope:OP) and work beside
// running agents.
#pragma once

#include <string>
#include <vector>

namespace velarion {

struct QueueRequest {
    std::string action;               // "queue", "retry-now", "hold", "release", "delete", "resubmit"
    std::vector<std::string> names;   // the messages (or "all"/"ALL")
    bool json = false;   // --json: one JSON object per line
    bool force = false;  // --force: resubmit also a message that may have been delivered
};

// Exit status: 0 done, 1 nothing matched (or a message could not be
// changed, or the configuration could not be read), 2 bad arguments.
int run_queue_command(const QueueRequest& request, const std::string& command_line);

}  // namespace velarion
