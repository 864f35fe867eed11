// The agent of a command that runs without a window (--queue, --check-config,
// --test-mail): its settings and runtime, with the keyword switches of the
// command line applied as the load step applies them. What each command then
// loads and checks is its own.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "common/null_view.h"
#include "platform/os/clock.h"
#include "startup/agent.h"

namespace velarion {

class CommandAgent {
public:
    explicit CommandAgent(const std::string& command_line);
    CommandAgent(const CommandAgent&) = delete;
    CommandAgent& operator=(const CommandAgent&) = delete;

    Agent& agent() { return agent_; }

    // Loads the operator's settings as the load step does. Without "ope:"
    // the usage line goes to standard error and the exit status is 2; when
    // velarion.ini cannot be reached, `unreachable` is told its path and the
    // exit status is 1; otherwise nothing (the settings are loaded).
    std::optional<int> load(const std::function<void(const std::string& ini)>& unreachable);

private:
    SystemClock clock_;
    NullView view_;
    Agent agent_;
};

}  // namespace velarion
