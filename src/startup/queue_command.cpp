#include "startup/queue_command.h"

#include <cstdio>

#include "common/null_view.h"
#include "platform/os/clock.h"
#include "platform/os/json_lines.h"
#include "platform/os/paths.h"
#include "platform/os/text_encoding.h"
#include "spool/queue_control.h"
#include "spool/queue_status.h"
#include "spool/resubmit.h"
#include "startup/agent.h"
#include "startup/command_agent.h"
#include "startup/command_line.h"
#include "startup/user_params.h"

namespace velarion {

namespace {

void say(std::FILE* f, const std::string& cp1252) {
    const std::string out = text::cp1252_to_utf8(cp1252) + "\n";
    std::fwrite(out.data(), 1, out.size(), f);
}

std::string when(long long seconds) { return seconds > 0 ? format_timestamp(from_seconds(seconds)) : "-"; }

// "2026-12-09T19:05:00" (the agent's clock has no time zone), or null.
void add_time(JsonLine& j, const std::string& key, long long seconds) {
    if (seconds <= 0) {
        j.null(key);
        return;
    }
    const DateTime t = from_seconds(seconds);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    j.text(key, buf);
}

std::vector<std::string> prefixes_of(const Switches& sw) {
    std::vector<std::string> p{sw.ope == "TUTTI" ? "*" : sw.ope};
    if (!sw.ope2.empty()) p.push_back(sw.ope2);
    return p;
}

int list_queue(const Agent& a, bool json) {
    const auto report = spool::read_queue(a.settings.spool_dir, a.settings.work_dir, prefixes_of(a.settings.sw),
                                          a.clock.now());
    for (const auto& m : report.messages) {
        if (json) {
            JsonLine j;
            j.text("base", text::cp1252_to_utf8(m.base)).text("state", spool::state_name(m.state));
            m.agent.empty() ? j.null("agent") : j.text("agent", m.agent);
            j.text("to", text::cp1252_to_utf8(m.to))
                .text("subject", text::cp1252_to_utf8(m.subject))
                .text("reference", text::cp1252_to_utf8(m.reference))
                .number("attempts", m.tries);
            add_time(j, "last_attempt", m.last_try);
            add_time(j, "next_attempt", m.state == spool::QueueState::deferred ? m.next_try : 0);
            j.text("reason", text::cp1252_to_utf8(m.reason));
            m.folder.empty() ? j.null("folder") : j.text("folder", m.folder);
            say(stdout, j.dump());
            continue;
        }
        std::string line = m.base + "  " + spool::state_name(m.state);
        if (!m.agent.empty()) line += " (" + m.agent + ")";
        line += "  a: " + m.to + "  oggetto: " + m.subject + "  rif: " + m.reference;
        if (m.tries > 0) line += "  tentativi: " + std::to_string(m.tries) + "  ultimo: " + when(m.last_try);
        if (m.state == spool::QueueState::deferred) line += "  prossimo: " + when(m.next_try);
        if (!m.reason.empty()) line += "  motivo: " + m.reason;
        if (!m.folder.empty()) line += "  cartella: " + m.folder;
        say(stdout, line);
    }
    const auto& t = report.today;
    if (json) {
        JsonLine counts;
        counts.number("delivered", t.delivered).number("saved", t.saved).number("deferred", t.deferred).number(
            "parked", t.parked);
        JsonLine j;
        j.object("today", std::move(counts)).number("held", static_cast<long long>(report.messages.size()));
        say(stdout, j.dump());
    } else {
        say(stdout, "-- " + std::to_string(report.messages.size()) + " messaggi; oggi: " +
                        std::to_string(t.delivered) + " inviati, " + std::to_string(t.saved) + " salvati, " +
                        std::to_string(t.deferred) + " rinvii, " + std::to_string(t.parked) + " non inviati");
    }
    // A queue folder that is not the agent's own was not read: said, and the status says so.
    if (!report.refusal.empty()) {
        say(stderr, "velarion: " + report.refusal);
        return 1;
    }
    return 0;
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
    if (request.action != "queue" && request.action != "retry-now" && request.base.empty()) {
        std::fputs(usage_line().c_str(), stderr);
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
    if (request.action == "hold") return report_results({spool::hold(spool, request.base)});
    if (request.action == "release") return report_results({spool::release(spool, request.base)});
    if (request.action == "resubmit") return resubmit_by_name(a, request.base, request.force);
    const std::string base = request.base.empty() ? "all" : request.base;
    const auto results = spool::retry_now(spool, prefixes_of(sw), base);
    if (results.empty()) {
        // Nothing deferred: the running agents still end a hold on delivery at once.
        say(stdout, "velarion: nessun messaggio rinviato; gli agenti riprovano al prossimo giro");
        return 0;
    }
    return report_results(results);
}

}  // namespace velarion
