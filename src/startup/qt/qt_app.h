// The window front end: QApplication, Form1 and the tray icon.
#pragma once

#include "startup/command_line.h"

namespace velarion {

// Runs the agent with its window; returns the exit status (0 after a normal
// close, 1 after a start-up refusal).
int run_qt(int argc, char** argv, const FrontEndOptions& opts);

}  // namespace velarion
