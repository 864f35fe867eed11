#include "spool/recovery.h"

#include <memory>

#include "common/runtime.h"
#include "platform/text_encoding.h"
#include "spool/group_copy.h"
#include "spool/queue.h"
#include "spool/settle.h"
#include "spool/spool_files.h"
#include "spool/spool_listing.h"

namespace velarion::spool {

namespace {
constexpr int kInterruptionsToPark = 2;

Claimed claimed_message(const SpoolListing& listing, const std::string& trigger) {
    Claimed m;
    m.trigger = trigger;
    m.base = trigger.substr(0, trigger.size() - 2);
    for (auto& path : group_files(listing, m.base)) (refused_kind(path).empty() ? m.spool_files : m.links).push_back(path);
    return m;
}
}  // namespace

bool operator_trigger(const std::string& name, const std::vector<std::string>& prefixes) {
    const std::string upper = text::upper(name);
    if (upper.size() < 2 || upper.compare(upper.size() - 2, 2, ".T") != 0) return false;
    for (const auto& p : prefixes)
        if (p == "*" || upper.rfind(p + ".", 0) == 0) return true;
    return false;
}

void recover_claims(SettleContext& c, const std::vector<std::string>& prefixes) {
    SpoolQueue& q = c.queue;
    std::unique_ptr<SpoolListing> listing;
    for (const auto& e : q.entries()) {
        if (e.owner == SpoolQueue::kDeferred || !operator_trigger(e.name, prefixes)) continue;
        if (!listing) listing = std::make_unique<SpoolListing>(q.spool());
        const Claimed m = claimed_message(*listing, e.name);
        if (e.owner == SpoolQueue::kConcluded) {
            // Delivered or parked, ended while its spool files were removed.
            c.rt.list.add(" Messaggio " + m.base + " gia' concluso: rimossi i suoi file di spool");
            remove_spool_files(c, m, m.spool_files);
            continue;
        }
        if (e.owner == q.agent()) {
            // Left by this agent itself (a scan that ended on an error): taken again as it is.
            q.release(e.name);
            continue;
        }
        if (!q.gone(e.owner) || !q.adopt(e.name, e.owner)) continue;
        QueueRecord rec = q.record(e.name);
        ++rec.interruptions;
        q.write_record(e.name, rec);
        if (rec.interruptions >= kInterruptionsToPark) {
            c.rt.list.add(" Messaggio " + m.base + " interrotto due volte: non inviato");
            park(c, m, "interrotto due volte (ultimo agente " + e.owner + ")");
        } else {
            c.rt.list.add(" Messaggio " + m.base + " ripreso: l'agente " + e.owner + " si era interrotto");
            q.release(e.name);
        }
    }
    q.bury_gone();
}

}  // namespace velarion::spool
