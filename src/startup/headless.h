// The headless front end (--headless): no window and no tray. Activity lines
// go to standard output as they are added, message boxes to standard error as
// "velarion: <text>", input boxes answer empty text, SIGTERM, SIGINT and
// SIGHUP close the agent as the window's unload does.
#pragma once

#include <string>

namespace velarion {

// Runs the agent; with once, runs one tick after the load step (when the
// agent is on) and closes. Returns the exit status: 0 after a normal close,
// 1 after a start-up refusal, a load step cut short by an error, or a load
// step that leaves the agent switched off.
int run_headless(const std::string& command_line, bool once);

}  // namespace velarion
