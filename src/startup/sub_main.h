// Sub Main: the process entry's checks before the main window loads.
#pragma once

#include <string>
#include <vector>

namespace velarion {

struct Agent;

// The process entry's steps before the main window loads (switches,
// decimal separator, host system, condensed font), on the ten command-line
// slots. The single-instance check needs the operator's work folder: the
// load step makes it (Form1Logic::set_instance_guard).
void Sub_Main(Agent& a, const std::vector<std::string>& args);

// The decimal separator test: converts ",00" and ".00" as the program's own
// number conversions do; "." or "," for the one that fails, "" when neither does.
std::string decimal_separator_test();

// True when "Mnc57__a.ttf" lies in the system root's "fonts" folder, in the
// program's folder or in the system's font folders.
bool condensed_font_present(const std::string& system_root, const std::string& program_dir);

}  // namespace velarion
