#include "spool/report_reader.h"

#include <algorithm>
#include <map>
#include <optional>

#include "common/runtime.h"
#include "delivery/mail_profile.h"
#include "platform/mail/delivery_report.h"
#include "platform/os/error.h"
#include "platform/os/process.h"
#include "platform/os/text_encoding.h"
#include "spool/day_counts.h"

namespace velarion::spool {

namespace {

int day_of(const DateTime& t) { return t.year * 10000 + t.month * 100 + t.day; }

void remember(std::vector<std::string>& sorted, const std::string& key) {
    const auto at = std::lower_bound(sorted.begin(), sorted.end(), key);
    if (at == sorted.end() || *at != key) sorted.insert(at, key);
}

}  // namespace

std::string status_words(const std::string& status) {
    static const std::map<std::string, std::string> words{
        {"5.1.1", "casella inesistente"},          {"5.1.10", "casella inesistente"},
        {"5.1.2", "dominio inesistente"},          {"5.1.3", "indirizzo non valido"},
        {"5.1.6", "casella trasferita"},           {"5.2.1", "casella disattivata"},
        {"5.2.2", "casella piena"},                {"4.2.2", "casella piena"},
        {"5.2.3", "messaggio troppo grande"},      {"5.3.4", "messaggio troppo grande"},
        {"5.4.1", "destinatario rifiutato dal server"}, {"5.4.4", "dominio irraggiungibile"},
        {"4.4.1", "server del destinatario non risponde"}, {"4.4.7", "consegna scaduta"},
        {"5.4.7", "consegna scaduta"},             {"5.7.1", "rifiutato dal server del destinatario"},
    };
    const auto w = words.find(status);
    return w == words.end() ? "" : w->second;
}

ReportReader::ReportReader(Runtime& rt) : rt_(rt) {}
ReportReader::~ReportReader() = default;

void ReportReader::tick() {
    try {
        reap_programs();
        if (auto result = fetch_.take(false)) take(*result);
        if (fetch_.busy() || rt_.cfg.dsn.mailbox.empty() || !rt_.cfg.has_work) return;
        const long long now = rt_.clock.monotonic_ms();
        const bool due = last_ms_ < 0 || now - last_ms_ >= 60 * 1000;
        // Reports just matched are moved at once; those whose move failed wait for the next pass.
        if (!due && !file_now_) return;
        if (due) last_ms_ = now;
        start(due);
    } catch (const std::exception& e) {
        trouble(e.what());
    } catch (...) {
        trouble("errore sconosciuto");
    }
}

void ReportReader::finish() {
    try {
        if (auto result = fetch_.take(true)) take(*result);
        if (!file_now_ || rt_.cfg.dsn.mailbox.empty()) return;
        start(false);
        if (auto result = fetch_.take(true)) take(*result);
    } catch (const std::exception& e) {
        trouble(e.what());
    } catch (...) {
        trouble("errore sconosciuto");
    }
}

void ReportReader::start(bool list) {
    FetchJob job;
    job.where = rt_.cfg.dsn.mailbox;
    if (job.where != skip_for_) {
        // Another mailbox: what was set aside concerns the old one.
        skip_.clear();
        to_file_.clear();
        skip_for_ = job.where;
    }
    job.profile = mail_profile(rt_);
    job.file_away = to_file_;
    job.skip = skip_;
    job.list = list;
    fetch_.start(std::move(job));
    to_file_.clear();
    file_now_ = false;
}

void ReportReader::trouble(const std::string& why) {
    if (why == trouble_) return;
    trouble_ = why;
    rt_.list.add(" Casella dei rapporti di consegna non leggibile: " + why);
}

void ReportReader::take(const FetchResult& result) {
    // Reports that could not be moved are not read again in this run (they
    // were said), and their move is tried again at the next pass.
    for (const auto& key : result.not_filed) {
        remember(skip_, key);
        to_file_.push_back(key);
    }
    if (!result.failure.empty()) {
        trouble(result.failure);
    } else if (!trouble_.empty()) {
        trouble_.clear();
        rt_.list.add(" Casella dei rapporti di consegna di nuovo leggibile");
    }
    if (result.mail.empty() || !rt_.cfg.has_work) return;
    const std::string& work_ = rt_.cfg.work_dir;
    // The sent messages the reports may be about, by envelope id and Message-ID.
    const DateTime now = rt_.clock.now();
    const std::vector<SentMessage> sent = read_sent(work_, days_before(day_of(now), rt_.cfg.dsn.days - 1));
    std::map<std::string, std::size_t> by_envid, by_id;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        if (!sent[i].envelope_id.empty()) by_envid[sent[i].envelope_id] = i;
        by_id[sent[i].message_id] = i;
    }
    for (const auto& item : result.mail) {
        if (item.too_big) {
            remember(skip_, item.key);
            rt_.list.add(" Messaggio troppo grande nella casella dei rapporti, non letto: " + item.key + " (" +
                         std::to_string(item.size) + " byte)");
            continue;
        }
        if (item.reading == mail::ReportReading::not_report) {
            remember(skip_, item.key);
            continue;
        }
        if (item.reading == mail::ReportReading::refused) {
            remember(skip_, item.key);
            rt_.list.add(" Rapporto di consegna non leggibile, saltato: " + text::utf8_to_cp1252(item.problem) +
                         " (" + item.key + ")");
            continue;
        }
        const mail::DeliveryReport& report = item.report;
        // By the envelope id the server was given, else by the returned Message-ID.
        std::optional<std::size_t> found;
        if (const auto e = by_envid.find(report.envelope_id); !report.envelope_id.empty() && e != by_envid.end())
            found = e->second;
        else if (const auto i = by_id.find(report.message_id); !report.message_id.empty() && i != by_id.end())
            found = i->second;
        if (!found) {
            // About a message of someone else, or one no longer in the record: left as it is.
            remember(skip_, item.key);
            continue;
        }
        const SentMessage& m = sent[*found];
        for (const auto& r : report.recipients) {
            ReportedOutcome o;
            o.time = to_seconds(now);
            o.message_id = m.message_id;
            o.recipient = text::utf8_to_cp1252(r.recipient);
            o.action = r.action;
            o.status = r.status;
            o.diagnostic = text::utf8_to_cp1252(r.diagnostic);
            o.reporter = text::utf8_to_cp1252(report.reporting_mta);
            o.date = report.arrival_date;
            if (!record_outcome(work_, day_of(now), o))
                rt_.list.add(" Impossibile registrare l'esito del messaggio " + m.base + " in " + tracking_dir(work_));
            if (o.action == "failed") bounce(m, o);
        }
        // Moved by the next pass before it lists the mailbox again.
        to_file_.push_back(item.key);
        file_now_ = true;
    }
}

void ReportReader::bounce(const SentMessage& sent, const ReportedOutcome& o) {
    const std::string words = status_words(o.status);
    const std::string why = !words.empty() ? words : !o.diagnostic.empty() ? o.diagnostic : "consegna non riuscita";
    const std::string text = "Fattura " + sent.base + " respinta da " + o.recipient + ": " + why;
    std::string detail = o.status;
    if (!o.diagnostic.empty() && o.diagnostic != why) detail += (detail.empty() ? "" : " ") + o.diagnostic;
    rt_.list.add(" " + text + (detail.empty() ? "" : " (" + detail + ")"));
    rt_.view.tray_message("Velarion", text);
    const DateTime t = rt_.clock.now();
    count_today(rt_.cfg.work_dir, day_of(t), Counted::bounced);
    const std::string& program = rt_.cfg.dsn.on_bounce;
    if (program.empty()) return;
    // No shell: the program and its arguments as written, the values in its environment.
    const std::vector<std::string> argv = process::split_command_line(program);
    const int pid = process::start(argv, {"VELARION_BASE=" + sent.base, "VELARION_MESSAGE_ID=" + sent.message_id,
                                          "VELARION_RECIPIENT=" + o.recipient, "VELARION_STATUS=" + o.status,
                                          "VELARION_REASON=" + why, "VELARION_SUBJECT=" + sent.subject});
    if (pid < 0)
        rt_.list.add(" Impossibile avviare il programma su_rifiuto " + program);
    else
        programs_.push_back(pid);
}

void ReportReader::reap_programs() {
    std::vector<int> running;
    for (int pid : programs_) {
        const auto status = process::poll(pid);
        if (!status) {
            running.push_back(pid);
        } else if (*status != 0) {
            rt_.list.add(" Il programma su_rifiuto " + rt_.cfg.dsn.on_bounce + " e' terminato con codice " +
                         std::to_string(*status));
        }
    }
    programs_.swap(running);
}

}  // namespace velarion::spool
