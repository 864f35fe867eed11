#include "spool/queue_control.h"

#include <algorithm>
#include <filesystem>
#include <optional>

#include "platform/os/atomic_file.h"
#include "spool/group_copy.h"
#include "spool/spool_files.h"
#include "spool/spool_listing.h"
#include "spool/unsent.h"
#include "platform/os/text_encoding.h"
#include "spool/queue.h"
#include "spool/queue_folder.h"
#include "spool/recovery.h"

namespace fs = std::filesystem;

namespace velarion::spool {

namespace {

// The owner the command holds a deferred trigger under while it rewrites its
// record; a command killed there leaves it to the agents' recovery, which
// puts it back in the spool.
constexpr const char* kCommand = "comando";

bool is_trigger_of(const std::string& name, const std::string& base) {
    return name.size() == base.size() + 2 && name.compare(0, base.size(), base) == 0 &&
           text::upper(name.substr(base.size())) == ".T";
}

// The trigger's name as it lies in the spool folder ("" when it is not there).
std::string spool_trigger(const std::string& spool, const std::string& base) {
    std::error_code ec;
    for (fs::directory_iterator it(spool, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string file = it->path().filename().string();
        if (file.find('@') == std::string::npos && is_trigger_of(file, base)) return file;
    }
    return "";
}

// The trigger's name as it lies in the spool or the queue ("" when neither has it).
std::string find_trigger(const QueueFolder& q, const std::string& base, std::string& owner) {
    owner.clear();
    if (std::string file = spool_trigger(q.spool(), base); !file.empty()) return file;
    for (const auto& e : q.entries()) {
        if (!is_trigger_of(e.name, base)) continue;
        owner = e.owner;
        return e.name;
    }
    return "";
}

void touch_retry_flag(const QueueFolder& q) { q.dir().write(kRetryFlag, "", atomic_file::Sync::work_file); }

// A trigger of the queue (under `owner`) made due now: taken under the
// command's name, its record rewritten, and put with the deferred ones.
bool make_due(const QueueFolder& q, const std::string& trigger, const std::string& owner) {
    const std::string taken = QueueFolder::entry(trigger, kCommand);
    if (!q.dir().rename(QueueFolder::entry(trigger, owner), taken)) return false;
    QueueRecord rec = q.record(trigger);
    rec.next_try = 0;
    q.write_record(trigger, rec, atomic_file::Sync::durable);
    return q.dir().rename(taken, QueueFolder::entry(trigger, SpoolQueue::kDeferred));
}

// The queue folder of the spool, or the reason it may not be used.
std::optional<QueueFolder> opened(const std::string& spool, bool create, std::string& refusal) {
    try {
        return QueueFolder::open(spool, create);
    } catch (const UnsafeQueueFolder& e) {
        refusal = e.what();
        return std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;  // no spool folder: nothing of the message is there
    }
}

// A message's entry in the queue folder, or why it cannot be reached: the
// first steps of every command on one message.
struct Located {
    std::optional<QueueFolder> q;
    std::string trigger, owner, refusal;
};

Located locate(const std::string& spool, const std::string& base, bool create) {
    Located m;
    m.q = opened(spool, create, m.refusal);
    if (m.q) m.trigger = find_trigger(*m.q, base, m.owner);
    if (m.trigger.empty() && m.refusal.empty()) m.refusal = "messaggio non trovato";
    return m;
}

}  // namespace

ControlResult hold(const std::string& spool, const std::string& base) {
    // The queue folder is made when no agent has run on this spool yet.
    const Located m = locate(spool, base, true);
    if (m.trigger.empty()) return {false, base, m.refusal};
    const auto& q = m.q;
    const std::string& trigger = m.trigger;
    const std::string& owner = m.owner;
    if (owner == SpoolQueue::kHeld) return {true, base, "gia' sospeso"};
    if (owner.empty() || owner == SpoolQueue::kDeferred) {
        const std::string to = QueueFolder::entry(trigger, SpoolQueue::kHeld);
        const bool done = owner.empty() ? q->dir().rename_in(q->spool_fd(), trigger, to)
                                        : q->dir().rename(QueueFolder::entry(trigger, owner), to);
        if (done) return {true, base, "sospeso"};
        return {false, base, "preso da un agente nel frattempo: non sospeso"};
    }
    if (SpoolQueue::concluded(owner)) return {false, base, "gia' concluso"};
    return {false, base, "in lavorazione presso l'agente " + owner + ": non sospeso"};
}

ControlResult release(const std::string& spool, const std::string& base) {
    const Located m = locate(spool, base, false);
    if (m.trigger.empty()) return {false, base, m.refusal};
    const auto& q = m.q;
    const std::string& trigger = m.trigger;
    if (m.owner != SpoolQueue::kHeld) return {false, base, "non sospeso"};
    if (q->record(trigger).tries > 0) {
        // Tried before: it joins the deferred ones, due now.
        if (!make_due(*q, trigger, SpoolQueue::kHeld)) return {false, base, "non rilasciato"};
        touch_retry_flag(*q);
        return {true, base, "rilasciato: nuovo tentativo al prossimo giro"};
    }
    if (!q->dir().rename_out(QueueFolder::entry(trigger, SpoolQueue::kHeld), q->spool_fd(), trigger))
        return {false, base, "non rilasciato"};
    touch_retry_flag(*q);
    return {true, base, "rilasciato nella spool"};
}

std::vector<ControlResult> retry_now(const std::string& spool, const std::vector<std::string>& prefixes,
                                     const std::string& base) {
    std::vector<ControlResult> out;
    std::string refusal;
    const auto q = opened(spool, false, refusal);
    if (!refusal.empty()) return {{false, base, refusal}};
    const bool all = base == "all";
    std::vector<std::string> due;
    if (q)
        for (const auto& e : q->entries())
            if (e.owner == SpoolQueue::kDeferred && (all ? operator_trigger(e.name, prefixes) : is_trigger_of(e.name, base)))
                due.push_back(e.name);
    for (const auto& trigger : due) {
        const std::string b = trigger.substr(0, trigger.size() - 2);
        if (make_due(*q, trigger, SpoolQueue::kDeferred))
            out.push_back({true, b, "nuovo tentativo al prossimo giro"});
        else
            out.push_back({false, b, "preso da un agente nel frattempo"});
    }
    if (!all && due.empty()) {
        // A message still in the spool waits only for a hold on delivery, which the flag ends.
        std::string owner;
        const std::string trigger = q ? find_trigger(*q, base, owner) : spool_trigger(spool, base);
        if (trigger.empty()) out.push_back({false, base, "messaggio non trovato"});
        else if (owner.empty()) out.push_back({true, base, "in attesa nella spool: nuovo tentativo al prossimo giro"});
        else out.push_back({false, base, std::string("non rinviato (") + (owner == SpoolQueue::kHeld ? "sospeso" : owner) + ")"});
    }
    if (q) touch_retry_flag(*q);
    return out;
}

std::vector<std::string> operator_bases(const std::string& spool, const std::vector<std::string>& prefixes,
                                        bool kept_only) {
    std::vector<std::string> out;
    std::error_code ec;
    if (!kept_only) {
        for (fs::directory_iterator it(spool, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (name.size() > 2 && text::upper(name.substr(name.size() - 2)) == ".T" && operator_trigger(name, prefixes))
                out.push_back(name.substr(0, name.size() - 2));
        }
    }
    std::string refusal;
    if (const auto q = opened(spool, false, refusal)) {
        for (const auto& e : q->entries()) {
            const bool pick = kept_only ? e.owner == SpoolQueue::kHeld : e.owner == SpoolQueue::kDeferred;
            if (pick && operator_trigger(e.name, prefixes)) out.push_back(e.name.substr(0, e.name.size() - 2));
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

ControlResult remove(Runtime& rt, const std::string& spool, const std::string& work, const std::string& base) {
    const Located m = locate(spool, base, true);
    if (m.trigger.empty()) return {false, base, m.refusal};
    const auto& q = m.q;
    const std::string& trigger = m.trigger;
    const std::string& owner = m.owner;
    if (SpoolQueue::concluded(owner)) return {false, base, "gia' concluso"};
    if (!owner.empty() && owner != SpoolQueue::kDeferred && owner != SpoolQueue::kHeld)
        return {false, base, "in lavorazione presso l'agente " + owner + ": non rimosso"};
    // Taken from every agent first; a command killed here leaves it to the agents' recovery.
    const std::string taken = QueueFolder::entry(trigger, kCommand);
    auto put_back = [&] {
        return owner.empty() ? q->dir().rename_out(taken, q->spool_fd(), trigger)
                             : q->dir().rename(taken, QueueFolder::entry(trigger, owner));
    };
    const bool moved = owner.empty() ? q->dir().rename_in(q->spool_fd(), trigger, taken)
                                     : q->dir().rename(QueueFolder::entry(trigger, owner), taken);
    if (!moved) return {false, base, "preso da un agente nel frattempo: non rimosso"};
    ParkRequest r;
    r.work = work;
    r.spool_dir = spool;
    r.trigger_path = q->reach(taken);  // through the queue folder's descriptor
    r.trigger_name = trigger;
    r.base = base;
    r.agent = kCommand;
    r.reason = kRemovedReason;
    try {
        r.spool_files = group_files(SpoolListing(spool), base);
    } catch (const std::exception&) {
    }
    const Parked kept = park_copy(rt, r);
    if (!kept.complete) {
        // Nothing is kept: the message goes back where it was.
        put_back();
        return {false, base, "non rimosso: " + kept.why};
    }
    // Concluded, so that an agent's recovery finishes a command cut short from here.
    const std::string done = QueueFolder::entry(trigger, SpoolQueue::kConcluded);
    if (!q->dir().rename(taken, done)) return {false, base, "conservato in " + kept.folder + " ma non rimosso dalla coda"};
    for (const auto& p : kept.spool_files) {
        try {
            remove_or_mark_done(p, false);
        } catch (const std::exception&) {
        }
    }
    q->dir().remove(done);
    q->dir().remove(QueueFolder::record_name(trigger));
    return {true, base, "rimosso: conservato in " + kept.folder};
}

}  // namespace velarion::spool
