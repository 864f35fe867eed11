#include "startup/track_command.h"

#include <cstdio>

#include "platform/os/clock.h"
#include "platform/os/json_lines.h"
#include "platform/os/text_encoding.h"
#include "spool/delivery_track.h"
#include "spool/resend.h"
#include "startup/agent.h"
#include "startup/command_agent.h"
#include "startup/command_line.h"

namespace velarion {

namespace {

void say(std::FILE* f, const std::string& cp1252) {
    const std::string out = text::cp1252_to_utf8(cp1252) + "\n";
    std::fwrite(out.data(), 1, out.size(), f);
}

std::string state_word(spool::RecipientState s) {
    switch (s) {
        case spool::RecipientState::accepted: return "accettato";
        case spool::RecipientState::delayed: return "in ritardo";
        case spool::RecipientState::delivered: return "consegnato";
        case spool::RecipientState::bounced: return "respinto";
    }
    return "";
}

std::string state_key(spool::RecipientState s) {
    switch (s) {
        case spool::RecipientState::accepted: return "accepted";
        case spool::RecipientState::delayed: return "delayed";
        case spool::RecipientState::delivered: return "delivered";
        case spool::RecipientState::bounced: return "bounced";
    }
    return "";
}

std::string iso_time(long long seconds) {
    const DateTime t = from_seconds(seconds);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", t.year % 10000, t.month % 100, t.day % 100,
                  t.hour % 100, t.minute % 100, t.second % 100);
    return buf;
}

int today_of(const Clock& clock) {
    const DateTime t = clock.now();
    return t.year * 10000 + t.month * 100 + t.day;
}

}  // namespace

int parse_track_date(const std::string& date) {
    int y = 0, m = 0, d = 0;
    char tail = 0;
    if (std::sscanf(date.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) != 3 &&
        std::sscanf(date.c_str(), "%2d/%2d/%4d%c", &d, &m, &y, &tail) != 3)
        return 0;
    if (y < 1970 || y > 9999 || m < 1 || m > 12 || d < 1 || d > 31) return 0;
    return y * 10000 + m * 100 + d;
}

int run_track_command(const TrackRequest& request, const std::string& command_line) {
    int since = 0;
    if (!request.since.empty() && (since = parse_track_date(request.since)) == 0) {
        say(stderr, "velarion: data non valida per --since: " + request.since + " (AAAA-MM-GG o gg/mm/aaaa)");
        return 2;
    }
    CommandAgent command(command_line);
    Agent& a = command.agent();
    if (const auto status =
            command.load([](const std::string& ini) { say(stderr, "velarion: Impossibile accedere al file " + ini); }))
        return *status;
    if (!a.settings.has_work) {
        say(stderr, "velarion: nessuna cartella di lavoro (tempozip_dir) in " + a.settings.ini_path());
        return 1;
    }
    if (since == 0) since = spool::days_before(today_of(a.clock), a.settings.dsn.days - 1);
    const auto messages = spool::track(a.settings.work_dir, since, request.base);
    int bounced = 0, delayed = 0, delivered = 0, accepted = 0;
    for (const auto& m : messages) {
        const auto& s = m.sent;
        if (!request.json) {
            say(stdout, s.base + "  inviato " + format_timestamp(from_seconds(s.time)) + "  oggetto: " + s.subject +
                            "  Message-ID: <" + s.message_id + ">" +
                            (s.replaces.empty() ? "" : "  sostituisce: " + s.replaces));
            if (!s.reply.empty()) say(stdout, "    server: " + s.reply);
        }
        for (const auto& r : m.recipients) {
            switch (r.state) {
                case spool::RecipientState::bounced: ++bounced; break;
                case spool::RecipientState::delayed: ++delayed; break;
                case spool::RecipientState::delivered: ++delivered; break;
                case spool::RecipientState::accepted: ++accepted; break;
            }
            const bool reported = r.state != spool::RecipientState::accepted;
            if (request.json) {
                JsonLine j;
                j.text("base", text::cp1252_to_utf8(s.base))
                    .text("message_id", s.message_id)
                    .text("envelope_id", s.envelope_id)
                    .text("sent", iso_time(s.time))
                    .text("subject", text::cp1252_to_utf8(s.subject))
                    .text("recipient", text::cp1252_to_utf8(r.address))
                    .text("state", state_key(r.state))
                    .text("server_reply", s.reply);
                if (reported) {
                    j.text("status", r.report.status)
                        .text("reason", r.report.diagnostic)
                        .text("reporting_mta", r.report.reporter)
                        .text("reported", iso_time(r.report.time));
                } else {
                    j.null("status").null("reason").null("reporting_mta").null("reported");
                }
                s.replaces.empty() ? j.null("replaces") : j.text("replaces", s.replaces);
                say(stdout, j.dump());
                continue;
            }
            std::string line = "    " + r.address + "  " + state_word(r.state);
            if (reported) {
                if (!r.report.status.empty()) line += " " + r.report.status;
                if (!r.report.diagnostic.empty()) line += "  " + r.report.diagnostic;
                line += "  (" + (r.report.reporter.empty() ? std::string("-") : r.report.reporter) + ", " +
                        format_timestamp(from_seconds(r.report.time)) + ")";
            }
            say(stdout, line);
        }
    }
    if (request.json) {
        JsonLine counts;
        counts.number("accepted", accepted).number("delivered", delivered).number("delayed", delayed).number(
            "bounced", bounced);
        JsonLine j;
        j.number("messages", static_cast<long long>(messages.size())).object("recipients", std::move(counts));
        say(stdout, j.dump());
    } else {
        say(stdout, "-- " + std::to_string(messages.size()) + " messaggi inviati; destinatari: " +
                        std::to_string(accepted) + " accettati, " + std::to_string(delivered) + " consegnati, " +
                        std::to_string(delayed) + " in ritardo, " + std::to_string(bounced) + " respinti");
    }
    if (messages.empty() && !request.base.empty() && request.base != "all") {
        say(stderr, "velarion: " + request.base + ": nessun messaggio inviato con questo nome");
        return 1;
    }
    return 0;
}

int run_resend_command(const std::string& base, const std::string& to, const std::string& command_line) {
    CommandAgent command(command_line);
    Agent& a = command.agent();
    if (const auto status =
            command.load([](const std::string& ini) { say(stderr, "velarion: Impossibile accedere al file " + ini); }))
        return *status;
    if (!a.settings.has_work || !a.settings.has_spool) {
        say(stderr, "velarion: nessuna cartella di spool o di lavoro per l'operatore in " + a.settings.ini_path());
        return 1;
    }
    const int since = spool::days_before(today_of(a.clock), a.settings.dsn.days - 1);
    const auto r = spool::resend(a.settings.spool_dir, a.settings.work_dir, since, base, text::utf8_to_cp1252(to));
    say(r.ok ? stdout : stderr, "velarion: " + base + ": " + r.text);
    return r.ok ? 0 : 1;
}

}  // namespace velarion
