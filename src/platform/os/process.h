// Starting outside programs (the zip program, the protection tool) and
// waiting for their end. No shell is involved and no window is shown.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velarion::process {

// Runs argv[0] (looked up in PATH when it has no "/") with the caller's
// environment and current directory, waits without a time limit and returns
// its exit code; -1 when it could not be started or ended by a signal.
int run_and_wait(const std::vector<std::string>& argv);

// Starts argv as run_and_wait does, calls `started` once (the window's
// pending events run there), then waits for its end. Returns its exit code;
// -1 at once, without calling `started`, when it cannot be started.
int run_and_wait(const std::vector<std::string>& argv, const std::function<void()>& started);
// The same with `input` as the program's standard input (it then reads the
// end of its input): for a secret such as a password, which a command line
// would show to every user of the machine. The input is at most 4096 bytes
// (it is written before the program starts); -1 for a longer one.
int run_and_wait(const std::vector<std::string>& argv, const std::string& input,
                 const std::function<void()>& started);
// Starts argv as run_and_wait does without waiting; the process number, or
// -1 when it could not be started.
int start(const std::vector<std::string>& argv);
// The same with `extra` ("NAME=value" entries) added to the environment;
// an entry replaces one of the same name.
int start(const std::vector<std::string>& argv, const std::vector<std::string>& extra);
// Waits without a time limit for a process from start(); its exit code, or
// -1 when it ended by a signal or cannot be waited for.
int wait_for(int pid);

// Whether a process from start() has ended, without waiting: its exit code
// (-1 when it ended by a signal), or nullopt while it runs.
std::optional<int> poll(int pid);

// Runs argv like run_and_wait and returns what it wrote to standard output
// (its standard error is discarded); nullopt when it could not be started or
// did not exit with status 0.
std::optional<std::string> run_capture(const std::vector<std::string>& argv);

// Splits a command line into arguments at blanks and tabs (no quoting).
std::vector<std::string> split_command_line(const std::string& line);

}  // namespace velarion::process
