#include "spool/sent_note.h"

#include <filesystem>

#include "common/runtime.h"
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

SentMessage sent_message(const DeliveryRequest& r, const DeliveryOutcome& o, const std::string& base) {
    SentMessage m;
    m.base = base;
    m.message_id = r.message_id;
    const auto at = r.message_id.rfind('@');
    m.envelope_id = at == std::string::npos ? r.message_id : r.message_id.substr(0, at);
    add_addresses(m.recipients, r.lsTo);
    add_addresses(m.recipients, r.lscc);
    add_addresses(m.recipients, r.plus_ccn);
    m.subject = r.lsObj;
    m.reply = o.server_reply;
    for (const auto& a : r.attachments) m.documents.push_back(std::filesystem::path(a.travelling()).filename().string());
    return m;
}

void note_sent(Runtime& rt, RunState& run, const std::string& work, const SentMessage& m) {
    const DateTime t = rt.clock.now();
    const int today = t.year * 10000 + t.month * 100 + t.day;
    if (run.tracking_pruned_day != today) {
        prune_tracking(work, today, rt.cfg.dsn.days);
        run.tracking_pruned_day = today;
    }
    if (!record_sent(work, today, m))
        rt.list.add(" Impossibile registrare l'invio del messaggio " + m.base + " in " + tracking_dir(work));
}

}  // namespace velarion::spool
