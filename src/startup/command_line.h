// Reading the command line: the ten slots and the keyword switches
// (getcommandline).
#pragma once

#include <string>
#include <vector>

#include "common/settings.h"

namespace velarion {

// At most max_args arguments: the maximal runs of characters other than blank
// and tab (no quoting, no escape); the rest of the line is ignored and unused
// slots are empty strings.
std::vector<std::string> getcommandline(const std::string& command_line, int max_args);

// The Linux front-end options, taken out before the ten slots are filled.
struct FrontEndOptions {
    bool headless = false;  // --headless
    bool once = false;      // --once
    bool help = false;      // --help: the usage is printed, nothing else is done
    bool version = false;   // --version: the version is printed, nothing else is done
    std::vector<std::string> resubmit;  // --resubmit FOLDER (each one given)
    // The queue commands: "queue" (--queue), "retry-now", "hold", "release",
    // "delete"; queue_names the messages named (or "all"/"ALL"), json --json.
    std::string queue_action;
    std::vector<std::string> queue_names;
    bool json = false;
    bool force = false;     // --force: --resubmit hands back also a message that may have been delivered
    bool test_mail = false;  // --test-mail: sign on to the store and the transport, send nothing
    bool check_config = false;  // --check-config: load everything and list each problem
    // --track [BASE|all] [--since DATE]: what became of the sent messages.
    bool track = false;
    std::string track_base;
    std::string since;
    // --resend BASE --to ADDRESS[;ADDRESS]: a sent message again, to new recipients.
    std::string resend;
    std::string resend_to;
    std::string command_line;  // the other arguments joined by blanks
    // Arguments that are neither an option above nor hold one of the ten
    // keywords (a typo such as "--headles" or "opr:AB"): the program stops
    // with the usage line and exit status 2 before any window is made.
    std::vector<std::string> unknown;
};
FrontEndOptions take_front_end_options(int argc, const char* const* argv);

// The texts of --help and --version; usage_line is the first line of the usage,
// written to standard error with a bad argument.
std::string usage_text();
std::string usage_line();
std::string version_line();  // "velarion (Velarion) <version>\n"

// Sub Main: "plus:" and "cdo:".
void apply_main_switches(Switches& sw, const std::vector<std::string>& args);

// Load step: "ope:" to "int:", after resetting the internal-client switch,
// the configuration directory (program_dir), the second operator and "run:".
void apply_load_switches(Switches& sw, const std::vector<std::string>& args, const std::string& program_dir);

}  // namespace velarion
