#include "spool/settle.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "common/runtime.h"
#include "platform/mail/mail.h"
#include "spool/accepted.h"
#include "spool/installation.h"
#include "spool/queue.h"
#include "spool/queue_status.h"
#include "platform/os/text_encoding.h"
#include "spool/day_counts.h"
#include "spool/run_state.h"
#include "spool/spool_files.h"
#include "spool/unsent.h"

namespace velarion::spool {

namespace {

constexpr const char* kMaybeDelivered = "potrebbe essere gia' stato consegnato";

long long now_seconds(const Runtime& rt) { return to_seconds(rt.clock.now()); }
long long now_ms(const Runtime& rt) { return rt.clock.monotonic_ms(); }

void count(const SettleContext& c, Counted what) {
    DayCounts& mine = c.run.settled;
    ++(what == Counted::delivered ? mine.delivered
       : what == Counted::saved   ? mine.saved
       : what == Counted::deferred ? mine.deferred
                                   : mine.parked);
    const DateTime t = c.rt.clock.now();
    count_today(c.work, t.year * 10000 + t.month * 100 + t.day, what);
}

// The side named in the activity lines of a hold.
std::string side_name(Target t) { return t == Target::store ? " (archivio)" : " (invio)"; }

// Messages waiting for delivery: triggers in the spool folder and in the queue.
int waiting_messages(const SettleContext& c) {
    int n = 0;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(c.queue.spool(), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        n += name.size() > 2 && (name.ends_with(".T") || name.ends_with(".t"));
    }
    for (const auto& e : c.queue.entries()) n += !SpoolQueue::concluded(e.owner);
    return n;
}

}  // namespace

std::string hold_since(const DeliveryHold& h) {
    SideHold side;
    side.kind = h.kind;
    side.since = h.since;
    return hold_text(side);
}

void show_hold(SettleContext& c) {
    // The sending side's hold when there is one, else the drafts store's.
    const DeliveryHold& h = c.run.transport_hold.active() ? c.run.transport_hold : c.run.store_hold;
    const std::string text = h.active() ? std::to_string(waiting_messages(c)) + " in attesa, " + hold_since(h) : "";
    if (text == c.run.warning) return;
    c.run.warning = text;
    c.rt.view.set_warning(text);
}

namespace {

// Delivery worked (or the server answered): a hold on that side ends, with one line.
void delivery_resumed(SettleContext& c, Target side) {
    if (!c.run.hold(side).active()) return;
    c.run.hold(side) = {};
    c.rt.list.add(" Consegna di nuovo possibile: riprendo l'invio dei messaggi" + side_name(side));
    // The warning look stays while the other side is held.
    show_hold(c);
    c.rt.view.tray_message("Velarion", "Consegna di nuovo possibile");
}


// The longest wait before a server that could not be reached is tried again,
// whatever the retry delays say: it may be back long before them.
constexpr long long kLongestProbeWait = 300;

// A draft was stored: a full drafts store said before is over.
void store_room_again(SettleContext& c, Target side) {
    if (!c.run.store_full || side != Target::store) return;
    c.run.store_full = false;
    c.rt.list.add(" Archivio delle bozze di nuovo disponibile: riprendo il salvataggio dei messaggi");
}

// The mail server cannot be reached, or refuses the account: no message is
// tried before the next delay is over. One line when this begins (or its
// kind changes), none for every further failed try.
void hold_delivery(SettleContext& c, const DeliveryOutcome& o) {
    DeliveryHold& h = c.run.hold(o.target);
    const bool changed = !h.active() || h.kind != o.result;
    // A try the operator asked for is answered with the lines of a new hold,
    // but the hold goes on from its first failure.
    const bool say = changed || h.asked;
    h.failures = changed ? 1 : h.failures + 1;
    if (changed) h.since = now_seconds(c.rt);
    h.kind = o.result;
    h.reason = o.reason;
    h.asked = false;
    const long long wait = std::min(c.rt.cfg.retry.delay_after(h.failures), kLongestProbeWait);
    h.until_ms = now_ms(c.rt) + wait * 1000;
    h.next_try = now_seconds(c.rt) + wait;
    show_hold(c);
    if (!say) return;
    // Shown, not asked: a tray notification at the change, and the warning look until it ends.
    const std::string what = o.result == Delivered::logon_refused ? "accesso alla posta rifiutato"
                                                                   : "server di posta non raggiungibile";
    c.rt.view.tray_message("Velarion", what + ": " + o.reason);
    if (o.result == Delivered::logon_refused) {
        // On the desktop the logon failure has switched the agent off already,
        // with its own lines; unattended, the agent tries again by itself.
        if (c.rt.cfg.host.unattended)
            c.rt.list.add(" Accesso Fallito " + o.reason + " - nuovi tentativi automatici" + side_name(o.target));
    } else {
        c.rt.list.add(" Server di posta non raggiungibile: " + o.reason + " - nuovi tentativi automatici" +
                      side_name(o.target));
    }
}

// The least time the tries of a record account for: the delays between them.
long long tries_span(const Runtime& rt, int tries) {
    long long span = 0;
    for (int i = 1; i < tries && span < rt.cfg.retry.limit; ++i) span += rt.cfg.retry.delay_after(i);
    return span;
}

// True when a message has failed for longer than the retry limit. Within a
// run the monotonic clock says so; across runs the wall clock must say so
// and the tries made must span the limit too, so that a clock stepped
// forward does not park every waiting message at once.
bool past_limit(const SettleContext& c, const QueueRecord& rec, const PutOff& p) {
    const long long limit = c.rt.cfg.retry.limit;
    if (p.first_failure_ms >= 0 && now_ms(c.rt) - p.first_failure_ms >= limit * 1000) return true;
    return now_seconds(c.rt) - rec.first_failure >= limit && tries_span(c.rt, rec.tries) >= limit;
}

// The trigger waits in the queue until `wait` seconds from now: the record
// keeps the wall-clock time for other runs, this run keeps the monotonic one
// (also when the record cannot be written, a full spool file system).
void put_off(SettleContext& c, const Claimed& m, QueueRecord rec, long long wait) {
    rec.next_try = now_seconds(c.rt) + wait;
    rec.delivering = false;
    c.run.put_off[m.trigger].due_ms = now_ms(c.rt) + wait * 1000;
    if (!c.queue.defer(m.trigger, rec))
        c.rt.list.add(" Impossibile scrivere il record del messaggio " + m.base + " in " + c.queue.spool() +
                      "coda/: il prossimo tentativo resta in memoria");
}

// A temporary failure of this message: it waits for its next try, or is
// parked when it has been tried for longer than the limit.
void defer(SettleContext& c, const Claimed& m, const DeliveryOutcome& o) {
    QueueRecord rec = c.queue.record(m.trigger);
    PutOff& p = c.run.put_off[m.trigger];
    const long long now = now_seconds(c.rt);
    if (rec.tries == 0) rec.first_failure = now;
    if (p.first_failure_ms < 0) p.first_failure_ms = now_ms(c.rt);
    ++rec.tries;
    rec.reason = o.reason;
    rec.last_try = now;
    if (o.result == Delivered::maybe_delivered) rec.maybe_delivered = true;
    if (past_limit(c, rec, p)) {
        c.rt.list.add(" Messaggio " + m.base + " non inviato dopo " + std::to_string(rec.tries) +
                      " tentativi: " + o.reason);
        c.queue.note_record(m.trigger, rec);
        park(c, m, "non inviato dopo " + std::to_string(rec.tries) + " tentativi: " + o.reason);
        return;
    }
    // A message that may have reached its server is not sent again soon.
    long long wait = c.rt.cfg.retry.delay_after(rec.tries);
    if (rec.maybe_delivered) wait = std::max(wait, longest_delay(c.rt));
    put_off(c, m, rec, wait);
    count(c, Counted::deferred);
    c.rt.list.add(" Messaggio rinviato " + m.base + " tentativo " + std::to_string(rec.tries) + ": " + o.reason +
                  " - prossimo tentativo " + format_timestamp(from_seconds(now + wait)));
}

// The drafts store is full: like a full disk, no fault of the message. It
// waits with the retry delays, its tries not counted towards the retry
// limit; one line when the store fills, one when it has room again.
void wait_for_store_room(SettleContext& c, const Claimed& m, const DeliveryOutcome& o) {
    if (!c.run.store_full) {
        c.run.store_full = true;
        c.rt.list.add(" Archivio delle bozze pieno: " + o.reason +
                      " - i messaggi restano nella spool e saranno ritentati");
    }
    PutOff& p = c.run.put_off[m.trigger];
    ++p.setbacks;
    // The record's tries and first failure stay: they count the message's own failures.
    put_off(c, m, c.queue.record(m.trigger), c.rt.cfg.retry.delay_after(p.setbacks));
    c.log_now();
}

// The message is delivered or parked: nothing of it waits any more.
void concluded(SettleContext& c, const Claimed& m) {
    c.run.put_off.erase(m.trigger);
    c.run.held_for.erase(m.trigger);
}

}  // namespace

long long longest_delay(const Runtime& rt) {
    const auto& d = rt.cfg.retry.delays;
    return d.empty() ? rt.cfg.retry.delay_after(1) : *std::max_element(d.begin(), d.end());
}

bool delivery_held(const RunState& run, Target side, long long now) {
    const DeliveryHold& h = run.hold(side);
    return h.active() && now < h.until_ms;
}

bool retry_due(const SettleContext& c, const std::string& trigger, const QueueRecord& record) {
    const auto p = c.run.put_off.find(trigger);
    if (p != c.run.put_off.end() && p->second.due_ms > 0) return now_ms(c.rt) >= p->second.due_ms;
    const long long ahead = record.next_try - now_seconds(c.rt);
    return ahead <= 0 || ahead > longest_delay(c.rt);
}

void mark_delivering(SettleContext& c, const Claimed& m, const std::string& message_id) {
    // Appended to the record in one write, which is neither read first nor
    // replaced: its other keys stay as they are, and a first try makes one
    // small file instead of a temporary renamed into place. Not synced: a
    // kill leaves it in the page cache; only a power cut could lose it, and
    // then the message is handled as one interrupted before.
    c.queue.append_record(m.trigger, delivering_lines(message_id));
}

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

void wait_for_installation(SettleContext& c, const Claimed& m, const std::string& trouble) {
    if (trouble.rfind("Spazio esaurito", 0) == 0 && c.run.space_trouble != trouble) {
        c.run.space_trouble = trouble;
        c.rt.list.add(" " + trouble + ": i messaggi restano nella spool e saranno ritentati");
    }
    PutOff& p = c.run.put_off[m.trigger];
    ++p.setbacks;
    const long long wait = c.rt.cfg.retry.delay_after(p.setbacks);
    // The record's tries and first failure stay: they count the message's own failures.
    put_off(c, m, c.queue.record(m.trigger), wait);
    c.rt.list.add(" Messaggio " + m.base + " in attesa: " + trouble + " - prossimo tentativo " +
                  format_timestamp(from_seconds(now_seconds(c.rt) + wait)));
    c.log_now();
}

void park(SettleContext& c, const Claimed& m, const std::string& reason) {
    QueueRecord rec = c.queue.record(m.trigger);
    ParkRequest r;
    r.work = c.work;
    r.spool_dir = c.queue.spool();
    r.trigger_path = c.queue.claimed_file(m.trigger);
    r.trigger_name = m.trigger;
    r.base = m.base;
    r.agent = c.queue.agent();
    r.maybe_delivered = rec.maybe_delivered;
    r.reason = rec.maybe_delivered && reason.find(kMaybeDelivered) == std::string::npos
                   ? reason + " - " + kMaybeDelivered
                   : reason;
    r.attachment_names = m.attachment_names;
    r.spool_files = m.spool_files;
    // What was said so far reaches the log before the message changes place.
    c.log_now();
    const Parked kept = park_copy(c.rt, r);
    if (!kept.complete) {
        // Nothing is parked: the message waits in the queue, whole, for a later try.
        std::string trouble = installation_trouble(c.queue.spool(), c.work, m.spool_files, kept.why);
        if (trouble.empty()) trouble = "impossibile conservare il messaggio non inviato";
        wait_for_installation(c, m, trouble);
        return;
    }
    const bool on_disk = c.queue.conclude(m.trigger);
    count(c, Counted::parked);
    concluded(c, m);
    // Its spool files stay until the record is on disk: the next scan sees to them.
    if (!on_disk) return;
    // Only what is safe in the folder leaves the spool, and the links.
    std::vector<std::string> going = kept.spool_files;
    going.insert(going.end(), m.links.begin(), m.links.end());
    remove_spool_files(c, m, going);
}

void space_again(SettleContext& c) {
    if (c.run.space_trouble.empty()) return;
    c.rt.list.add(" Spazio di nuovo disponibile: riprendo l'invio dei messaggi");
    c.run.space_trouble.clear();
}

void finish_batch(SettleContext& c) {
    if (!c.batch || c.batch->messages.empty()) return;
    std::vector<Claimed> messages;
    messages.swap(c.batch->messages);
    // The drafts of the batch on disk before the records saying they were stored.
    const std::string drafts = mail::sync_stored_drafts();
    if (!drafts.empty()) {
        c.rt.list.add(" Impossibile scrivere su disco la cartella " + drafts +
                      ": i file di spool dei messaggi consegnati restano fino al prossimo giro");
        return;
    }
    if (!c.queue.sync()) {
        c.rt.list.add(" Impossibile scrivere su disco la cartella " + c.queue.spool() +
                      "coda/: i file di spool dei messaggi consegnati restano fino al prossimo giro");
        return;
    }
    for (const auto& m : messages) remove_spool_files(c, m, m.spool_files);
}

void settle(SettleContext& c, const Claimed& m, const DeliveryOutcome& outcome) {
    switch (outcome.result) {
        case Delivered::yes:
            // Concluded the moment its transport accepted it (its spool files
            // go with the batch's one sync); a transport without that hook gets it here.
            if (!m.accepted) record_accepted(c, m);
            c.log_now();
            count(c, text::upper(m.option) == "SAVE" ? Counted::saved : Counted::delivered);
            concluded(c, m);
            if (c.batch && (c.batch->messages.size() >= ConcludedBatch::kMessages ||
                            now_ms(c.rt) - c.batch->since_ms >= ConcludedBatch::kMilliseconds))
                finish_batch(c);
            delivery_resumed(c, outcome.target);
            if (!unrecorded(c, m.trigger)) space_again(c);
            store_room_again(c, outcome.target);
            return;
        case Delivered::failed:
            park(c, m, outcome.reason);
            return;
        case Delivered::later:
        case Delivered::maybe_delivered:
            delivery_resumed(c, outcome.target);  // the server answered
            defer(c, m, outcome);
            return;
        case Delivered::no_room:
            wait_for_store_room(c, m, outcome);
            return;
        case Delivered::server_down:
        case Delivered::logon_refused: {
            // Nothing reached the server: the mark of a delivery under way goes.
            QueueRecord rec = c.queue.record(m.trigger);
            if (rec.delivering) {
                rec.delivering = false;
                c.queue.note_record(m.trigger, rec);
            }
            c.queue.release(m.trigger);
            // It waits for that side only; the next scan leaves it alone until then.
            c.run.held_for[m.trigger] = outcome.target;
            hold_delivery(c, outcome);
            return;
        }
    }
}

}  // namespace velarion::spool
