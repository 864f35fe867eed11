#include "spool/shell_wait.h"

#include "platform/os/process.h"

namespace velarion {

int shell_wait(const std::string& command_line) {
    return shell_wait(process::split_command_line(command_line));
}

int shell_wait(const std::vector<std::string>& argv) { return process::run_and_wait(argv); }

}  // namespace velarion
