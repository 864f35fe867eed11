#include "startup/command_line.h"

#include <string_view>

#include "platform/os/process.h"
#include "common/version.h"
#include "platform/os/text_encoding.h"

namespace velarion {

std::vector<std::string> getcommandline(const std::string& command_line, int max_args) {
    // The same split as the process runner's; the slots past max_args are dropped.
    std::vector<std::string> args = process::split_command_line(command_line);
    args.resize(static_cast<std::size_t>(max_args > 0 ? max_args : 0));
    return args;
}

namespace {
// The ten keywords; an argument holding one of them anywhere is a keyword argument.
constexpr std::string_view kKeywords[] = {"ope:", "ini:", "run:", "plus:", "cdo:",
                                          "deb:", "so:",  "fax:", "acc:",  "int:"};
bool holds_keyword(std::string_view a) {
    for (std::string_view k : kKeywords)
        if (a.find(k) != std::string_view::npos) return true;
    return false;
}
// Options Qt reads itself, each with its value (a session manager restarts a
// program with -session).
bool qt_option(std::string_view a) {
    return a == "-session" || a == "-platform" || a == "-style" || a == "-display";
}
}  // namespace

FrontEndOptions take_front_end_options(int argc, const char* const* argv) {
    FrontEndOptions out;
    for (int i = 1; i < argc; ++i) {
        std::string_view a = argv[i];
        if (a == "--headless") {
            out.headless = true;
        } else if (a == "--once") {
            out.once = true;
        } else if (a == "--help") {
            out.help = true;
        } else if (a == "--version") {
            out.version = true;
        } else if (a == "--force") {
            out.force = true;
        } else if (a == "--resubmit") {
            // The folder is the next argument (it may hold blanks).
            out.resubmit.push_back(i + 1 < argc ? argv[++i] : "");
        } else if (a == "--queue") {
            out.queue_action = "queue";
        } else if (a == "--json") {
            out.json = true;
        } else if (a == "--test-mail") {
            out.test_mail = true;
        } else if (a == "--check-config") {
            out.check_config = true;
        } else if (a == "--retry-now") {
            out.queue_action = "retry-now";
            // An optional message name (or "all"): the next argument when it is no keyword or option.
            if (i + 1 < argc && !holds_keyword(argv[i + 1]) && argv[i + 1][0] != '-') out.queue_names.push_back(argv[++i]);
        } else if (a == "--track") {
            out.track = true;
            if (i + 1 < argc && !holds_keyword(argv[i + 1]) && argv[i + 1][0] != '-') out.track_base = argv[++i];
        } else if (a == "--since" || a == "--resend" || a == "--to") {
            // Each takes the next argument as its value.
            if (i + 1 < argc && !holds_keyword(argv[i + 1]) && argv[i + 1][0] != '-') {
                std::string& value = a == "--since" ? out.since : a == "--resend" ? out.resend : out.resend_to;
                value = argv[++i];
            } else {
                out.unknown.emplace_back(a);  // its value is missing
            }
        } else if (a == "--hold" || a == "--release" || a == "--delete") {
            // Every message name (or ALL) that follows; none: the command gives its usage.
            out.queue_action = a.substr(2);
            while (i + 1 < argc && !holds_keyword(argv[i + 1]) && argv[i + 1][0] != '-') out.queue_names.push_back(argv[++i]);
        } else if (qt_option(a)) {
            ++i;  // Qt takes it and its value from the arguments it is given
        } else if (!holds_keyword(a)) {
            out.unknown.emplace_back(a);
        } else {
            if (!out.command_line.empty()) out.command_line += ' ';
            out.command_line += a;
        }
    }
    return out;
}

std::string usage_line() { return "Usage: velarion [--headless] [--once] ope:OP ini:DIR [KEYWORD:VALUE...]\n"; }

std::string usage_text() {
    return usage_line() +
           "       velarion --resubmit FOLDER [--force] | --resubmit BASE [--force] ini:DIR ope:OP\n"
           "       velarion --queue [--json] ini:DIR ope:OP\n"
           "       velarion --retry-now [BASE|all] ini:DIR ope:OP\n"
           "       velarion --hold|--release|--delete BASE...|ALL  ini:DIR ope:OP\n"
           "       velarion --track [BASE|all] [--since DATE] [--json] ini:DIR ope:OP\n"
           "       velarion --resend BASE --to ADDRESS[;ADDRESS] ini:DIR ope:OP\n"
           "       velarion --test-mail ini:DIR ope:OP\n"
           "       velarion --check-config ini:DIR ope:OP\n"
           "       velarion --help | --version\n"
           "Polls the spool folder of operator OP, composes the print files of each message\n"
           "into PDF documents and delivers the message by mail.\n"
           "\n"
           "  --headless   no window and no tray icon: activity lines on standard output,\n"
           "               messages on standard error; SIGTERM, SIGINT and SIGHUP close the agent\n"
           "  --once       after start-up, poll the spool once, then close\n"
           "  --resubmit FOLDER\n"
           "               hand the message parked in FOLDER (below non_inviati), or every\n"
           "               message parked in FOLDER, back to its spool folder; a name without\n"
           "               \"/\" is a message's base name, looked for below non_inviati\n"
           "  --queue      list every message the operator's installation holds: waiting,\n"
           "               held by TIMING:, in progress, deferred, kept back, parked, with\n"
           "               recipients, subject, tries and reason; and today's counts\n"
           "  --json       with --queue: one JSON object per line\n"
           "  --retry-now [BASE|all]\n"
           "               try the deferred message BASE (or all) at once; running agents\n"
           "               also end a hold on delivery at their next poll\n"
           "  --hold BASE...|ALL\n"
           "               keep the messages back (ALL: every waiting or deferred one of\n"
           "               the operator): no agent takes them until --release\n"
           "  --release BASE...|ALL\n"
           "               let messages kept back go again\n"
           "  --delete BASE...|ALL\n"
           "               take messages out of the queue: each is parked below non_inviati\n"
           "               with the reason \"rimosso dall'operatore\" (nothing is destroyed;\n"
           "               --resubmit hands it back)\n"
           "  --force      with --resubmit: also a message that may have been delivered already\n"
           "  --track [BASE|all]\n"
           "               show each sent message (or BASE) with what became of it per\n"
           "               recipient: accepted by the server (with its answer), delivered,\n"
           "               delayed, bounced (with code and reason); --json: one object a line\n"
           "  --since DATE with --track: from DATE (YYYY-MM-DD or dd/mm/yyyy) on; default:\n"
           "               the days the record keeps (\"giorni\" of section DSN)\n"
           "  --resend BASE --to ADDRESS[;ADDRESS]\n"
           "               write the sent message BASE into the spool again, for new\n"
           "               recipients; the record of the first stays as it is\n"
           "  --test-mail  sign on to the mail store and the transport with the configured\n"
           "               method (password or OAuth 2.0) and say which succeeded; nothing\n"
           "               is sent (exit status 0 when both succeed, else 1)\n"
           "  --check-config\n"
           "               load velarion.ini, the operator's folders and keys, the mail\n"
           "               URLs and every page style of loghi.ini; list each problem on\n"
           "               standard output (exit status 0 none, 1 some, 2 bad arguments)\n"
           "  --help       show this help and exit\n"
           "  --version    show the version and exit\n"
           "\n"
           "At most ten keyword arguments (blank-separated, no quoting):\n"
           "  ope:OP       operator code, at most 3 characters, or TUTTI; ope:AB;CD adds CD\n"
           "  ini:DIR      folder of velarion.ini (default: the program's folder; for the\n"
           "               commands without a window, VELARION_INI of the environment or\n"
           "               of the operator's service file <OP>.env first)\n"
           "  run:y        switch the agent on at start (default; anything else: off)\n"
           "  plus:y       allow a second agent of the same user\n"
           "  cdo:Y        deliver through the SMTP settings of section CDO\n"
           "  deb:Y        show trace messages\n"
           "  so:AIX       the business application runs on AIX\n"
           "  fax:PRO      show the fax label\n"
           "  acc:Y        sign on with the mail store's and transport's own credentials\n"
           "  int:Y        mark the mail client as internal (default)\n"
           "\n"
           "Exit status: 0 after a normal close, 1 when start-up refuses to go on\n"
           "(headless: also when the agent would stay switched off), 2 for a bad argument.\n"
           "The queue commands: 0 done, 1 nothing matched or a change failed, 2 bad arguments.\n";
}

std::string version_line() { return std::string("velarion (Velarion) ") + kVersionNumber + "\n"; }

namespace {
// The keyword may stand anywhere in the argument; the value is the argument
// without its first N characters, wherever the keyword stood.
bool keyword(const std::string& arg, std::string_view kw, std::size_t n, std::string& value) {
    if (arg.find(kw) == std::string::npos) return false;
    value = arg.size() > n ? arg.substr(n) : "";
    return true;
}
}  // namespace

void apply_main_switches(Switches& sw, const std::vector<std::string>& args) {
    std::string v;
    for (const auto& a : args) {
        if (keyword(a, "plus:", 5, v)) sw.second_instance = text::upper(v) == "Y";
        if (keyword(a, "cdo:", 4, v)) sw.smtp_component = text::upper(v) == "Y";
    }
}

void apply_load_switches(Switches& sw, const std::vector<std::string>& args, const std::string& program_dir) {
    sw.internal_client = true;
    sw.ini = program_dir;
    sw.ope2.clear();
    sw.run_at_start = true;
    std::string v;
    for (const auto& a : args) {
        if (keyword(a, "ope:", 4, v)) {
            const auto semi = v.find(';');
            if (semi == std::string::npos) {
                sw.ope = v;
            } else {
                sw.ope = v.substr(0, semi);
                sw.ope2 = v.substr(semi + 1);
            }
        }
        if (keyword(a, "deb:", 4, v)) sw.debug_traces = text::upper(v) == "Y";
        if (keyword(a, "ini:", 4, v)) {
            sw.ini = v;
            sw.ini_given = true;
        }
        if (keyword(a, "so:", 3, v)) sw.aix = text::upper(v) == "AIX";
        if (keyword(a, "run:", 4, v)) sw.run_at_start = v == "y";  // as typed: only "y" starts the agent
        if (keyword(a, "fax:", 4, v)) sw.fax_label = text::upper(v) == "PRO";
        if (keyword(a, "acc:", 4, v)) sw.own_credentials = text::upper(v) == "Y";
        if (keyword(a, "int:", 4, v)) sw.internal_client = text::upper(v) == "Y";
    }
}

}  // namespace velarion
