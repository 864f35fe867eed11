#include "spool/sent_note.h"

#include <filesystem>

#include "common/runtime.h"
#include "platform/os/clock.h"
#include "platform/os/text_encoding.h"
#include "spool/run_state.h"

namespace velarion::spool {

namespace {

// The addresses of a ";"-separated list: the part in "<>" when there is one.
void add_addresses(std::vector<std::string>& out, const std::string& list) {
    for (std::size_t start = 0; start <= list.size();) {
        const std::size_t end = std::min(list.find(';', start), list.size());
        std::string a = text::trim(list.substr(start, end - start));
        const auto lt = a.find('<'), gt = a.rfind('>');
        if (lt != std::string::npos && gt != std::string::npos && gt > lt) a = text::trim(a.substr(lt + 1, gt - lt - 1));
        if (!a.empty()) out.push_back(a);
        start = end + 1;
    }
}

}  // namespace

SentNote sent_message(const DeliveryRequest& r, const DeliveryOutcome& o, const std::string& base) {
    SentNote note;
    SentMessage& m = note.record;
    m.base = base;
    m.message_id = r.message_id;
    const auto at = r.message_id.rfind('@');
    m.envelope_id = at == std::string::npos ? r.message_id : r.message_id.substr(0, at);
    add_addresses(m.recipients, r.lsTo);
    add_addresses(m.recipients, r.lscc);
    add_addresses(m.recipients, r.plus_ccn);
    m.subject = r.lsObj;
    m.reply = o.server_reply;
    m.sender = r.lsFrom;
    m.reference = r.lsNumRef;
    for (const auto& a : r.attachments) {
        m.documents.push_back(std::filesystem::path(a.travelling()).filename().string());
        note.document_paths.push_back(a.travelling());
    }
    note.body = r.lvBody;
    return note;
}

void note_sent(Runtime& rt, RunState& run, const std::string& work, SentNote& note) {
    SentMessage& m = note.record;
    // The day of the record's own time, which --resend looks under for the
    // documents and body (a message noted just after midnight keeps its day).
    const DateTime t = m.time > 0 ? from_seconds(m.time) : rt.clock.now();
    const int today = t.year * 10000 + t.month * 100 + t.day;
    if (run.tracking_pruned_day != today) {
        prune_tracking(work, today, rt.cfg.dsn.days);
        run.tracking_pruned_day = today;
    }
    m.replaces = replaced_by_resend(work, m.base);
    if (!m.replaces.empty()) rt.list.add(" Messaggio " + m.base + " inviato in sostituzione di " + m.replaces);
    // What was sent, for a resend: the documents as they travelled and the
    // body (a line of the day's file of bodies), all in the day's folder: no
    // folder is made per message.
    const std::string envelope = m.envelope_id.empty() ? m.base : m.envelope_id;
    bool kept = true;
    for (const auto& p : note.document_paths) {
        const std::string target = document_path(work, today, envelope, std::filesystem::path(p).filename().string());
        std::error_code c;
        std::filesystem::copy_file(p, target, std::filesystem::copy_options::overwrite_existing, c);
        if (c == std::errc::no_such_file_or_directory) {
            // The first of the day's documents: its folder is made.
            std::filesystem::create_directories(std::filesystem::path(target).parent_path(), c);
            std::filesystem::copy_file(p, target, std::filesystem::copy_options::overwrite_existing, c);
        }
        kept = kept && !c;
    }
    kept = record_body(work, today, envelope, note.body) && kept;
    if (!record_sent(work, today, m) || !kept)
        rt.list.add(" Impossibile registrare l'invio del messaggio " + m.base + " in " + tracking_dir(work));
}

}  // namespace velarion::spool
