#include "spool/accepted.h"

#include <algorithm>
#include <exception>
#include <utility>
#include <vector>

#include "common/runtime.h"
#include "platform/mail/mail.h"
#include "spool/installation.h"
#include "spool/queue.h"
#include "spool/run_state.h"
#include "spool/settle.h"

namespace velarion::spool {

namespace {

// Concludes the trigger in the batch, or alone with its sync when there is
// no batch; false (with the error) when the rename failed.
bool conclude_now(SettleContext& c, const Claimed& m, std::string& why) {
    try {
        if (c.batch) {
            c.queue.conclude_in_batch(m.trigger);
            if (c.batch->messages.empty()) c.batch->since_ms = c.rt.clock.monotonic_ms();
            c.batch->messages.push_back(m);
        } else {
            // A draft on disk before the record that it was stored.
            const bool drafts_synced = mail::sync_stored_drafts().empty();
            if (c.queue.conclude(m.trigger) && drafts_synced) remove_spool_files(c, m, m.spool_files);
        }
        return true;
    } catch (const std::exception& e) {
        why = e.what();
    } catch (...) {
        why = "errore sconosciuto";
    }
    return false;
}

}  // namespace

void record_accepted(SettleContext& c, const Claimed& m) noexcept {
    try {
        std::string why;
        if (conclude_now(c, m, why)) return;
        // The record's mark keeps every agent from taking it up again; on a
        // file system that takes nothing, only this run's memory does.
        QueueRecord rec = c.queue.record(m.trigger);
        rec.accepted = true;
        rec.delivering = false;
        bool noted = true;
        try {
            c.queue.write_record(m.trigger, rec);
        } catch (...) {
            noted = false;
        }
        if (c.batch) c.batch->unrecorded.push_back(m);
        c.rt.list.add(" Messaggio " + m.base + " consegnato ma non registrato in " + c.queue.spool() + "coda/ (" +
                      why + "): non sara' inviato di nuovo, registrazione ritentata" +
                      (noted ? "" : " (resta in memoria)"));
        const std::string trouble = "Spazio esaurito in " + c.queue.spool();
        if (says_disk_full(why) && c.run.space_trouble != trouble) {
            c.run.space_trouble = trouble;
            c.rt.list.add(" " + trouble + ": i messaggi restano nella spool e saranno ritentati");
        }
    } catch (...) {
        // an activity line that could not be added: the message stays claimed by this agent
    }
}

bool conclude_unrecorded(SettleContext& c) {
    if (!c.batch || c.batch->unrecorded.empty()) return true;
    std::vector<Claimed> still;
    for (auto& m : std::exchange(c.batch->unrecorded, {})) {
        std::string why;
        if (conclude_now(c, m, why))
            c.rt.list.add(" Messaggio " + m.base + " consegnato: registrato in " + c.queue.spool() + "coda/");
        else
            still.push_back(std::move(m));
    }
    c.batch->unrecorded = std::move(still);
    if (!c.batch->unrecorded.empty()) return false;
    space_again(c);
    return true;
}

bool unrecorded(const SettleContext& c, const std::string& trigger) {
    if (!c.batch) return false;
    const auto& u = c.batch->unrecorded;
    return std::any_of(u.begin(), u.end(), [&](const Claimed& m) { return m.trigger == trigger; });
}

}  // namespace velarion::spool
