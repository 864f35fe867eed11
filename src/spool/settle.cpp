#include "spool/settle.h"

#include "common/runtime.h"
#include "spool/queue.h"
#include "platform/text_encoding.h"
#include "spool/day_counts.h"
#include "spool/run_state.h"
#include "spool/spool_files.h"
#include "spool/unsent.h"

namespace velarion::spool {

namespace {

long long now_seconds(const Runtime& rt) { return to_seconds(rt.clock.now()); }

void count(const SettleContext& c, Counted what) {
    const DateTime t = c.rt.clock.now();
    count_today(c.work, t.year * 10000 + t.month * 100 + t.day, what);
}

// Delivery worked (or the server answered): a hold on delivery ends, with one line.
void delivery_resumed(SettleContext& c) {
    if (!c.run.hold.active()) return;
    c.run.hold = {};
    c.rt.list.add(" Consegna di nuovo possibile: riprendo l'invio dei messaggi");
}

// The mail server cannot be reached, or refuses the account: no message is
// tried before the next delay is over. One line when this begins (or its
// kind changes), none for every further failed try.
void hold_delivery(SettleContext& c, const DeliveryOutcome& o) {
    DeliveryHold& h = c.run.hold;
    const bool changed = !h.active() || h.kind != o.result;
    h.failures = changed ? 1 : h.failures + 1;
    h.kind = o.result;
    h.reason = o.reason;
    h.until = now_seconds(c.rt) + c.rt.cfg.retry.delay_after(h.failures);
    if (!changed) return;
    if (o.result == Delivered::logon_refused) {
        // On the desktop the logon failure has switched the agent off already,
        // with its own lines; unattended, the agent tries again by itself.
        if (c.rt.cfg.host.unattended)
            c.rt.list.add(" Accesso Fallito " + o.reason + " - nuovi tentativi automatici");
    } else {
        c.rt.list.add(" Server di posta non raggiungibile: " + o.reason + " - nuovi tentativi automatici");
    }
}

// A temporary failure of this message: it waits for its next try, or is
// parked when it has been tried for longer than the limit.
void defer(SettleContext& c, const Claimed& m, const DeliveryOutcome& o) {
    QueueRecord rec = c.queue.record(m.trigger);
    const long long now = now_seconds(c.rt);
    if (rec.tries == 0) rec.first_failure = now;
    ++rec.tries;
    rec.reason = o.reason;
    rec.last_try = now;
    if (now - rec.first_failure >= c.rt.cfg.retry.limit) {
        c.rt.list.add(" Messaggio " + m.base + " non inviato dopo " + std::to_string(rec.tries) +
                      " tentativi: " + o.reason);
        park(c, m, "non inviato dopo " + std::to_string(rec.tries) + " tentativi: " + o.reason);
        return;
    }
    rec.next_try = now + c.rt.cfg.retry.delay_after(rec.tries);
    c.queue.defer(m.trigger, rec);
    count(c, Counted::deferred);
    c.rt.list.add(" Messaggio rinviato " + m.base + " tentativo " + std::to_string(rec.tries) + ": " + o.reason +
                  " - prossimo tentativo " + format_timestamp(from_seconds(rec.next_try)));
}

}  // namespace

bool delivery_held(const RunState& run, long long now) { return run.hold.active() && now < run.hold.until; }

void remove_spool_files(SettleContext& c, const Claimed& m, const std::vector<std::string>& files) {
    for (const auto& p : files) {
        try {
            remove_or_mark_done(p, c.run.aix);
        } catch (const std::exception& e) {
            c.rt.list.add(" Impossibile rimuovere il file di spool " + p + " " + e.what());
        }
    }
    c.queue.forget(m.trigger, c.run.aix);
}

void park(SettleContext& c, const Claimed& m, const std::string& reason) {
    const std::string folder = keep_unsent(c.rt, c.work, m.base, m.attachment_names);
    if (folder.empty()) {
        // Nowhere to keep it: it stays in the queue and is tried again later.
        QueueRecord rec = c.queue.record(m.trigger);
        ++rec.tries;
        rec.reason = reason;
        rec.next_try = now_seconds(c.rt) + c.rt.cfg.retry.delay_after(rec.tries);
        c.queue.defer(m.trigger, rec);
        return;
    }
    const KeptOriginals kept = keep_originals(c.rt, folder, c.queue.spool(), c.queue.claimed_path(m.trigger),
                                              m.trigger, m.spool_files, reason);
    c.queue.conclude(m.trigger);
    count(c, Counted::parked);
    // Only what is safe in the folder leaves the spool, and the links.
    std::vector<std::string> going = kept.spool_files;
    going.insert(going.end(), m.links.begin(), m.links.end());
    remove_spool_files(c, m, going);
}

void settle(SettleContext& c, const Claimed& m, const DeliveryOutcome& outcome) {
    switch (outcome.result) {
        case Delivered::yes:
            c.queue.conclude(m.trigger);
            count(c, text::upper(m.option) == "SAVE" ? Counted::saved : Counted::delivered);
            remove_spool_files(c, m, m.spool_files);
            delivery_resumed(c);
            return;
        case Delivered::failed:
            park(c, m, outcome.reason);
            return;
        case Delivered::later:
        case Delivered::maybe_delivered:
            delivery_resumed(c);  // the server answered
            defer(c, m, outcome);
            return;
        case Delivered::server_down:
        case Delivered::logon_refused:
            c.queue.release(m.trigger);
            hold_delivery(c, outcome);
            return;
    }
}

}  // namespace velarion::spool
