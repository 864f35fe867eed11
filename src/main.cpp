// Process entry: bad arguments (exit status 2), --help and --version, the Qt window, with --headless the
// headless runner, with --resubmit the hand-back of parked messages.
#include <csignal>
#include <cstdio>

#include "platform/os/clock.h"
#include "platform/os/file_modes.h"
#include "startup/command_line.h"
#include "startup/config_check_command.h"
#include "startup/headless.h"
#include "startup/mail_test_command.h"
#include "startup/queue_command.h"
#include "startup/qt/qt_app.h"
#include "startup/resubmit_command.h"
#include "startup/track_command.h"

int main(int argc, char** argv) {
    // A reader of standard output that goes away (a journal restarted, a
    // pipe into a program that ended) must not end the agent: the write fails
    // and the agent goes on. Programs it starts get the default back.
    std::signal(SIGPIPE, SIG_IGN);
    // The system time zone read once, not looked up again for every time stamp.
    velarion::read_time_zone_once();
    // Private until the configuration says otherwise (GLOBAL umask).
    velarion::file_modes::set_umask(velarion::file_modes::kDefaultUmask);
    const velarion::FrontEndOptions opts = velarion::take_front_end_options(argc, argv);
    if (!opts.unknown.empty()) {
        // Before any window system is touched: a typo must not abort in a platform plug-in.
        for (const auto& a : opts.unknown) std::fprintf(stderr, "velarion: argomento sconosciuto: %s\n", a.c_str());
        std::fputs(velarion::usage_line().c_str(), stderr);
        std::fputs("Try 'velarion --help' for more information.\n", stderr);
        return 2;
    }
    if (opts.help || opts.version) {
        std::fputs((opts.help ? velarion::usage_text() : velarion::version_line()).c_str(), stdout);
        return 0;
    }
    if (opts.check_config) return velarion::run_config_check(opts.command_line);
    if (opts.test_mail) return velarion::run_mail_test_command(opts.command_line);
    if (opts.track) return velarion::run_track_command({opts.track_base, opts.since, opts.json}, opts.command_line);
    if (!opts.resend.empty() || !opts.resend_to.empty()) {
        if (opts.resend.empty() || opts.resend_to.empty()) {
            std::fputs(velarion::usage_line().c_str(), stderr);
            return 2;
        }
        return velarion::run_resend_command(opts.resend, opts.resend_to, opts.command_line);
    }
    if (!opts.queue_action.empty())
        return velarion::run_queue_command({opts.queue_action, opts.queue_names, opts.json, opts.force},
                                           opts.command_line);
    if (!opts.resubmit.empty()) {
        // A name without a folder separator is a parked message's base name.
        if (opts.resubmit.size() == 1 && opts.resubmit[0].find('/') == std::string::npos &&
            !opts.resubmit[0].empty())
            return velarion::run_queue_command({"resubmit", {opts.resubmit[0]}, false, opts.force}, opts.command_line);
        return velarion::run_resubmit(opts.resubmit, opts.force);
    }
    if (opts.headless) return velarion::run_headless(opts.command_line, opts.once);
    return velarion::run_qt(argc, argv, opts);
}
