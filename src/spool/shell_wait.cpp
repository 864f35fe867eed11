#include "spool/shell_wait.h"

#include "platform/process.h"
#include "startup/context.h"

namespace velarion {

int shell_wait(const std::string& command_line) {
    return shell_wait(process::split_command_line(command_line));
}

int shell_wait(const std::vector<std::string>& argv) { return process::run_and_wait(argv); }

void run_and_wait(Context& ctx, const std::vector<std::string>& argv) {
    // 1. Start; 4. when the start fails, return at once.
    const int pid = process::start(argv);
    if (pid < 0) return;
    // 2. Pending window events, once; 3. wait for the end.
    ctx.view.process_events();
    process::wait_for(pid);
}

}  // namespace velarion
