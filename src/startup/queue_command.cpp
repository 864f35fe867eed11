#include "startup/queue_command.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "common/null_view.h"
#include "platform/os/clock.h"
#include "platform/os/json_lines.h"
#include "platform/os/paths.h"
#include "platform/os/text_encoding.h"
#include "spool/message_rules.h"
#include "spool/queue_control.h"
#include "spool/queue_status.h"
#include "spool/resubmit.h"
#include "startup/agent.h"
#include "startup/command_agent.h"
#include "startup/command_line.h"
#include "startup/user_params.h"

namespace velarion {

namespace {

std::string shown(const std::string& utf8);

// A line of the command's own words with spool text in it, escaped.
void say(std::FILE* f, const std::string& cp1252) {
    const std::string out = shown(text::cp1252_to_utf8(cp1252)) + "\n";
    std::fwrite(out.data(), 1, out.size(), f);
}

void say_utf8(const std::string& utf8) {
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    std::fputc('\n', stdout);
}

// Control characters of spool text shown escaped ("\x1b", "\u0085"): a
// terminal gets no escape sequence from the spool, and each message stays on
// its one line whatever its text holds.
std::string shown(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        char buf[8];
        if (c < 0x20 || c == 0x7f) {
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else if (c == 0xc2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(utf8[i + 1]) <= 0x9f) {
            // The C1 controls (U+0080 to U+009F), CSI among them.
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned char>(utf8[i + 1]));
            out += buf;
            ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// The wall-clock time of an epoch count in this host's zone.
struct LocalTime {
    std::tm tm{};
    bool ok = false;
};
LocalTime local_of_epoch(long long epoch) {
    LocalTime t;
    const std::time_t e = static_cast<std::time_t>(epoch);
    t.ok = epoch > 0 && ::localtime_r(&e, &t.tm) != nullptr;
    return t;
}
// The agent's clock reads local time without a zone (to_seconds): the zone
// is the host's at that moment.
LocalTime local_of_clock(long long seconds) {
    if (seconds <= 0) return {};
    const DateTime d = from_seconds(seconds);
    std::tm tm{};
    tm.tm_year = d.year - 1900;
    tm.tm_mon = d.month - 1;
    tm.tm_mday = d.day;
    tm.tm_hour = d.hour;
    tm.tm_min = d.minute;
    tm.tm_sec = d.second;
    tm.tm_isdst = -1;
    return local_of_epoch(static_cast<long long>(std::mktime(&tm)));
}

// "09/12/2026 17:16:00", or "-".
std::string when(const LocalTime& t) {
    if (!t.ok) return "-";
    char buf[32];
    std::strftime(buf, sizeof buf, "%d/%m/%Y %H:%M:%S", &t.tm);
    return buf;
}

// RFC 3339 with the zone ("2026-12-09T17:16:00+01:00"), or null.
void add_time(JsonLine& j, const std::string& key, const LocalTime& t) {
    if (!t.ok) {
        j.null(key);
        return;
    }
    char buf[40];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &t.tm);
    const int off = static_cast<int>(t.tm.tm_gmtoff / 60) % (24 * 60);
    char zone[16];
    if (off == 0) std::snprintf(zone, sizeof zone, "Z");
    else std::snprintf(zone, sizeof zone, "%c%02d:%02d", off < 0 ? '-' : '+', std::abs(off) / 60, std::abs(off) % 60);
    j.text(key, std::string(buf) + zone);
}

// The recipients of header line 4, ";"-separated.
std::vector<std::string> recipients(const std::string& line) {
    std::vector<std::string> out;
    std::size_t from = 0;
    while (from <= line.size()) {
        std::size_t end = line.find(';', from);
        if (end == std::string::npos) end = line.size();
        std::string r = line.substr(from, end - from);
        const auto first = r.find_first_not_of(" \t");
        r = first == std::string::npos ? "" : r.substr(first, r.find_last_not_of(" \t") - first + 1);
        if (!r.empty()) out.push_back(text::cp1252_to_utf8(r));
        from = end + 1;
    }
    return out;
}

std::vector<std::string> prefixes_of(const Switches& sw) {
    std::vector<std::string> p{sw.ope == "TUTTI" ? "*" : sw.ope};
    if (!sw.ope2.empty()) p.push_back(sw.ope2);
    return p;
}

spool::DraftRule draft_rule(const Agent& a) {
    return [&a](const std::string& option, const std::string& to) {
        return text::upper(spool::delivery_option(a.rt, option, to)) == "SAVE";
    };
}

// Next try: a deferred message's own, or that of the server a held one waits for.
bool shows_next(spool::QueueState s) {
    return s == spool::QueueState::deferred || s == spool::QueueState::held_transport ||
           s == spool::QueueState::held_store;
}

void print_json(const spool::QueuedMessage& m) {
    JsonLine j;
    j.text("base", text::cp1252_to_utf8(m.base))
        .text("state", spool::state_key(m.state))
        .text("state_text", spool::state_name(m.state));
    m.agent.empty() ? j.null("agent") : j.text("agent", m.agent);
    add_time(j, "arrival", local_of_epoch(m.written));
    j.number("size", m.size)
        .text("from", text::cp1252_to_utf8(m.from))
        .texts("to", recipients(m.to))
        .text("subject", text::cp1252_to_utf8(m.subject))
        .text("reference", text::cp1252_to_utf8(m.reference))
        .number("attempts", m.tries);
    add_time(j, "last_attempt", local_of_clock(m.last_try));
    add_time(j, "next_attempt", shows_next(m.state) ? local_of_clock(m.next_try) : LocalTime{});
    j.text("reason", text::cp1252_to_utf8(m.reason));
    m.folder.empty() ? j.null("folder") : j.text("folder", m.folder);
    say_utf8(j.dump());
}

void print_text(const spool::QueuedMessage& m) {
    std::string line = m.base + "  " + spool::state_name(m.state);
    if (!m.agent.empty()) line += " (" + m.agent + ")";
    line += "  arrivo: " + when(local_of_epoch(m.written)) + "  " + std::to_string(m.size) + " byte  da: " + m.from +
            "  a: " + m.to + "  oggetto: " + m.subject + "  rif: " + m.reference;
    if (m.tries > 0) line += "  tentativi: " + std::to_string(m.tries);
    if (m.last_try > 0) line += "  ultimo: " + when(local_of_clock(m.last_try));
    if (shows_next(m.state)) line += "  prossimo: " + when(local_of_clock(m.next_try));
    if (!m.reason.empty()) line += "  motivo: " + m.reason;
    if (!m.folder.empty()) line += "  cartella: " + m.folder;
    say(stdout, line);
}

int list_queue(const Agent& a, bool json) {
    auto report = spool::read_queue(a.settings.spool_dir, a.settings.work_dir, prefixes_of(a.settings.sw),
                                    a.clock.now(), draft_rule(a));
    // One message read at a time, and forgotten once printed.
    for (auto& m : report.messages) {
        spool::read_details(report, m);
        json ? print_json(m) : print_text(m);
        m = spool::QueuedMessage{};
    }
    const auto& t = report.today;
    const long long listed = static_cast<long long>(report.messages.size());
    if (json) {
        JsonLine counts;
        counts.number("delivered", t.delivered).number("saved", t.saved).number("deferred", t.deferred).number(
            "parked", t.parked).number("bounced", t.bounced);
        JsonLine j;
        j.object("today", std::move(counts)).number("messages", listed);
        say_utf8(j.dump());
    } else {
        say(stdout, "-- " + std::to_string(listed) + " messaggi; oggi: " +
                        std::to_string(t.delivered) + " inviati, " + std::to_string(t.saved) + " salvati, " +
                        std::to_string(t.deferred) + " rinvii, " + std::to_string(t.parked) + " non inviati, " +
                        std::to_string(t.bounced) + " respinti");
    }
    // A queue folder that is not the agent's own was not read: said, and the status says so.
    if (!report.refusal.empty()) {
        say(stderr, "velarion: " + report.refusal);
        return 1;
    }
    return 0;
}

std::string usage_text_of_queue() {
    return "Usage: velarion --hold|--release|--delete BASE...|ALL  ini:DIR ope:OP\n"
           "Try 'velarion --help' for more information.\n";
}

int report_results(const std::vector<spool::ControlResult>& results) {
    int status = results.empty() ? 1 : 0;
    for (const auto& r : results) {
        say(r.ok ? stdout : stderr, "velarion: " + r.base + ": " + r.text);
        if (!r.ok) status = 1;
    }
    return status;
}

int resubmit_by_name(const Agent& a, const std::string& base, bool force) {
    const auto report = spool::read_queue(a.settings.spool_dir, a.settings.work_dir, {"*"}, a.clock.now());
    int status = 1;
    bool any = false;
    for (const auto& m : report.messages) {
        if (m.state != spool::QueueState::parked || m.base != base) continue;
        any = true;
        for (const auto& r : spool::resubmit(m.folder, force)) {
            say(r.ok ? stdout : stderr, "velarion: " + r.folder + ": " + r.text);
            if (r.ok && status == 1) status = 0;
        }
    }
    if (!any) say(stderr, "velarion: " + base + ": nessun messaggio non inviato con questo nome");
    return status;
}

}  // namespace

int run_queue_command(const QueueRequest& request, const std::string& command_line) {
    CommandAgent command(command_line);
    Agent& a = command.agent();
    Switches& sw = a.settings.sw;
    const bool named = request.action == "hold" || request.action == "release" || request.action == "delete" ||
                       request.action == "resubmit";
    if (named && request.names.empty()) {
        say(stderr, "velarion: --" + request.action + ": manca il nome del messaggio (BASE o ALL)");
        std::fputs(usage_text_of_queue().c_str(), stderr);
        return 2;
    }
    if (const auto status =
            command.load([](const std::string& ini) { say(stderr, "velarion: Impossibile accedere al file " + ini); }))
        return *status;
    if (!a.settings.has_spool) {
        say(stderr, "velarion: nessuna cartella di spool (Path) per l'operatore " + sw.ope + " in " +
                        a.settings.ini_path());
        return 1;
    }
    const std::string& spool = a.settings.spool_dir;
    if (request.action == "queue") return list_queue(a, request.json);
    if (request.action == "resubmit") return resubmit_by_name(a, request.names.front(), request.force);
    if (named) {
        // ALL: every message of the operator the command applies to.
        std::vector<std::string> bases;
        for (const auto& n : request.names) {
            if (text::upper(n) != "ALL") {
                bases.push_back(n);
                continue;
            }
            const auto mine = spool::operator_bases(spool, prefixes_of(sw), request.action == "release");
            bases.insert(bases.end(), mine.begin(), mine.end());
        }
        std::vector<spool::ControlResult> results;
        for (const auto& b : bases) {
            if (request.action == "hold") results.push_back(spool::hold(spool, b));
            else if (request.action == "release") results.push_back(spool::release(spool, b));
            else results.push_back(spool::remove(a.rt, spool, a.settings.work_dir, b));
        }
        if (bases.empty()) say(stdout, "velarion: nessun messaggio");
        return bases.empty() ? 0 : report_results(results);
    }
    const std::string base = request.names.empty() ? "all" : request.names.front();
    const auto results = spool::retry_now(spool, prefixes_of(sw), base);
    if (results.empty()) {
        // Nothing deferred: the running agents still end a hold on delivery at once.
        say(stdout, "velarion: nessun messaggio rinviato; gli agenti riprovano al prossimo giro");
        return 0;
    }
    return report_results(results);
}

}  // namespace velarion
