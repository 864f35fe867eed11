// The process runner: start an outside program and wait for its end.
#pragma once

#include <string>
#include <vector>

namespace velarion {

struct Context;

// Runs a command line (program and arguments separated by blanks) and
// returns its exit code; -1 when the program cannot be started.
int shell_wait(const std::string& command_line);
// The same with the arguments already separated (names with blanks stay whole).
int shell_wait(const std::vector<std::string>& argv);

// Run-and-wait by process number: starts the program, lets pending window
// events run once, then waits for its end. Returns at once when it cannot be
// started.
void run_and_wait(Context& ctx, const std::vector<std::string>& argv);

}  // namespace velarion
