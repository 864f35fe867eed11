// shell_wait: runs an outside program to its end through the process runner
// of the platform layer and gives its exit code.
#pragma once

#include <string>
#include <vector>

namespace velarion {

// Runs a command line (program and arguments separated by blanks) and
// returns its exit code; -1 when the program cannot be started.
int shell_wait(const std::string& command_line);
// The same with the arguments already separated (names with blanks stay whole).
int shell_wait(const std::vector<std::string>& argv);

}  // namespace velarion
