// Process entry: --help and --version, the Qt window, with --headless the
// headless runner, with --resubmit the hand-back of parked messages.
#include <cstdio>

#include "platform/file_modes.h"
#include "startup/command_line.h"
#include "startup/headless.h"
#include "startup/qt/qt_app.h"
#include "startup/resubmit_command.h"

int main(int argc, char** argv) {
    // Private until the configuration says otherwise (GLOBAL umask).
    velarion::file_modes::set_umask(velarion::file_modes::kDefaultUmask);
    const velarion::FrontEndOptions opts = velarion::take_front_end_options(argc, argv);
    if (opts.help || opts.version) {
        std::fputs((opts.help ? velarion::usage_text() : velarion::version_line()).c_str(), stdout);
        return 0;
    }
    if (!opts.resubmit.empty()) return velarion::run_resubmit(opts.resubmit);
    if (opts.headless) return velarion::run_headless(opts.command_line, opts.once);
    return velarion::run_qt(argc, argv, opts);
}
