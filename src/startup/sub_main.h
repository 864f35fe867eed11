// Sub Main: the process entry's checks before the main window loads.
#pragma once

#include <string>
#include <vector>

namespace velarion {

struct Agent;

// The front end's way to find and wake a running instance.
class InstanceGuard {
public:
    virtual ~InstanceGuard() = default;
    // True when another instance of the program is running for this user.
    virtual bool another_running() = 0;
    // Brings the running instance's window to the front.
    virtual void raise_other() = 0;
    // Why another_running() could not tell ("" when it could): no lock file could be made.
    virtual std::string trouble() const { return ""; }
};

// The process entry's checks before the main window loads (switches,
// single instance, decimal separator, host system, condensed font), on the
// ten command-line slots. False when the
// process is to end (a second instance without "plus:y").
bool Sub_Main(Agent& a, const std::vector<std::string>& args, InstanceGuard& guard);

// The decimal separator test: converts ",00" and ".00" as the program's own
// number conversions do; "." or "," for the one that fails, "" when neither does.
std::string decimal_separator_test();

// True when "Mnc57__a.ttf" lies in the system root's "fonts" folder, in the
// program's folder or in the system's font folders.
bool condensed_font_present(const std::string& system_root, const std::string& program_dir);

}  // namespace velarion
