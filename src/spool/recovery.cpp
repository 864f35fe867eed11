#include "spool/recovery.h"

#include <exception>
#include <memory>

#include "common/runtime.h"
#include "platform/os/text_encoding.h"
#include "spool/accepted.h"
#include "spool/group_copy.h"
#include "spool/queue.h"
#include "spool/settle.h"
#include "spool/spool_files.h"
#include "spool/spool_listing.h"
#include "spool/unsent.h"

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

// A message whose record says its transport accepted it: concluded now and
// its spool files removed; never handed to a transport again. False when the
// record says nothing of the kind.
bool conclude_accepted(SettleContext& c, const Claimed& m, const std::string& agent) {
    if (!c.queue.record(m.trigger).accepted) return false;
    try {
        const bool on_disk = c.queue.conclude(m.trigger);
        c.rt.list.add(" Messaggio " + m.base + " gia' consegnato dall'agente " + agent +
                      ": rimossi i suoi file di spool");
        if (on_disk) remove_spool_files(c, m, m.spool_files);
    } catch (const std::exception&) {
        // The rename failed again: it stays with this agent, which tries at its next scan.
    }
    return true;
}
}  // namespace

bool operator_trigger(const std::string& name, const std::vector<std::string>& prefixes) {
    const std::string upper = text::upper(name);
    if (upper.size() < 2 || upper.compare(upper.size() - 2, 2, ".T") != 0) return false;
    for (const auto& p : prefixes)
        if (p == "*" || upper.rfind(p + ".", 0) == 0) return true;
    return false;
}

bool own_claims_left(const std::vector<SpoolQueue::Entry>& entries, const std::vector<std::string>& prefixes,
                     const std::string& agent) {
    for (const auto& e : entries) {
        if (!operator_trigger(e.name, prefixes)) continue;
        const bool own = e.owner == agent;
        const bool concluded_here = SpoolQueue::concluded(e.owner) &&
                                    (e.owner == SpoolQueue::kConcluded || SpoolQueue::concluding_agent(e.owner) == agent);
        if (own || concluded_here) return true;
    }
    return false;
}

void recover_claims(SettleContext& c, const std::vector<std::string>& prefixes,
                    const std::vector<SpoolQueue::Entry>& entries) {
    SpoolQueue& q = c.queue;
    std::unique_ptr<SpoolListing> listing;
    for (const auto& e : entries) {
        if (e.owner == SpoolQueue::kDeferred || e.owner == SpoolQueue::kHeld || !operator_trigger(e.name, prefixes))
            continue;
        if (!listing) listing = std::make_unique<SpoolListing>(q.spool());
        const Claimed m = claimed_message(*listing, e.name);
        if (SpoolQueue::concluded(e.owner)) {
            // Concluded in the batch of a live agent, which removes its files itself.
            const std::string agent = SpoolQueue::concluding_agent(e.owner);
            if (!agent.empty() && agent != q.agent() && (!q.gone(agent) || !q.adopt_concluded(e.name, agent)))
                continue;
            // Delivered or parked, ended while its spool files were removed
            // (or before its record was synced): they go once it is on disk.
            if (!q.sync()) continue;
            c.rt.list.add(" Messaggio " + m.base + " gia' concluso: rimossi i suoi file di spool");
            remove_spool_files(c, m, m.spool_files);
            continue;
        }
        if (e.owner == q.agent()) {
            // Accepted by the transport, its concluding rename not yet done: tried again by itself.
            if (unrecorded(c, e.name)) continue;
            // Left by this agent itself (a scan that ended on an error): taken again as it is.
            if (!conclude_accepted(c, m, e.owner)) q.release(e.name);
            continue;
        }
        if (!q.gone(e.owner) || !q.adopt(e.name, e.owner)) continue;
        // Its transport accepted it: it is only concluded, never sent again.
        if (conclude_accepted(c, m, e.owner)) continue;
        if (const std::string folder = parked_by(c.work, m.base, e.owner); !folder.empty()) {
            // That agent had parked it whole and ended before recording it.
            c.rt.list.add(" Messaggio " + m.base + " gia' conservato in " + folder +
                          ": rimossi i suoi file di spool");
            if (!q.conclude(e.name)) continue;
            std::vector<std::string> kept;
            for (const auto& path : m.spool_files)
                if (is_file(folder + "originale/" + path.substr(path.find_last_of('/') + 1))) kept.push_back(path);
            kept.insert(kept.end(), m.links.begin(), m.links.end());
            remove_spool_files(c, m, kept);
            continue;
        }
        QueueRecord rec = q.record(e.name);
        ++rec.interruptions;
        // Ended while its transport had it: the server may have it already.
        if (rec.delivering) rec.maybe_delivered = true;
        rec.delivering = false;
        q.write_record(e.name, rec);
        if (rec.interruptions >= kInterruptionsToPark) {
            c.rt.list.add(" Messaggio " + m.base + " interrotto due volte: non inviato" +
                          (rec.maybe_delivered ? " (potrebbe essere gia' stato consegnato)" : ""));
            c.log_now();
            park(c, m, "interrotto due volte (ultimo agente " + e.owner + ")");
        } else {
            c.rt.list.add(" Messaggio " + m.base + " ripreso: l'agente " + e.owner + " si era interrotto");
            c.log_now();
            q.release(e.name);
        }
    }
    q.bury_gone();
}

}  // namespace velarion::spool
