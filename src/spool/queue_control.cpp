#include "spool/queue_control.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/os/atomic_file.h"
#include "spool/group_copy.h"
#include "spool/spool_files.h"
#include "spool/spool_listing.h"
#include "spool/unsent.h"
#include "platform/os/text_encoding.h"
#include "spool/queue.h"
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

// The trigger's name as it lies in the spool or the queue ("" when neither has it).
std::string find_trigger(const QueuePaths& q, const std::string& base, std::string& owner) {
    std::error_code ec;
    for (const std::string& dir : {q.spool, q.dir}) {
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string file = it->path().filename().string();
            const auto at = file.rfind('@');
            const bool in_queue = dir == q.dir;
            if (in_queue != (at != std::string::npos)) continue;
            const std::string name = in_queue ? file.substr(0, at) : file;
            if (!is_trigger_of(name, base)) continue;
            owner = in_queue ? file.substr(at + 1) : "";
            return name;
        }
    }
    return "";
}

QueueRecord read_record(const QueuePaths& q, const std::string& trigger) {
    std::ifstream in(q.record(trigger), std::ios::binary);
    return in ? parse_record(std::string(std::istreambuf_iterator<char>(in), {})) : QueueRecord{};
}

bool rename(const std::string& from, const std::string& to) {
    std::error_code ec;
    fs::rename(from, to, ec);
    return !ec;
}

void touch_retry_flag(const QueuePaths& q) {
    atomic_file::write(q.retry_flag(), "", atomic_file::Sync::work_file);
}

// A deferred trigger made due now: taken from the deferred ones, its record
// rewritten, and put back.
bool make_due(const QueuePaths& q, const std::string& trigger) {
    const std::string taken = q.entry(trigger, kCommand);
    if (!rename(q.entry(trigger, SpoolQueue::kDeferred), taken)) return false;
    QueueRecord rec = read_record(q, trigger);
    rec.next_try = 0;
    atomic_file::write(q.record(trigger), format_record(rec));
    return rename(taken, q.entry(trigger, SpoolQueue::kDeferred));
}

}  // namespace

ControlResult hold(const std::string& spool, const std::string& base) {
    const QueuePaths q(spool);
    std::error_code ec;
    fs::create_directories(q.dir, ec);  // no agent has run on this spool yet
    std::string owner;
    const std::string trigger = find_trigger(q, base, owner);
    if (trigger.empty()) return {false, base, "messaggio non trovato"};
    if (owner == SpoolQueue::kHeld) return {true, base, "gia' sospeso"};
    if (owner.empty() || owner == SpoolQueue::kDeferred) {
        const std::string from = owner.empty() ? q.spool + trigger : q.entry(trigger, owner);
        if (rename(from, q.entry(trigger, SpoolQueue::kHeld))) return {true, base, "sospeso"};
        return {false, base, "preso da un agente nel frattempo: non sospeso"};
    }
    if (SpoolQueue::concluded(owner)) return {false, base, "gia' concluso"};
    return {false, base, "in lavorazione presso l'agente " + owner + ": non sospeso"};
}

ControlResult release(const std::string& spool, const std::string& base) {
    const QueuePaths q(spool);
    std::string owner;
    const std::string trigger = find_trigger(q, base, owner);
    if (trigger.empty()) return {false, base, "messaggio non trovato"};
    if (owner != SpoolQueue::kHeld) return {false, base, "non sospeso"};
    const std::string from = q.entry(trigger, SpoolQueue::kHeld);
    if (read_record(q, trigger).tries > 0) {
        // Tried before: it joins the deferred ones, due now.
        const std::string taken = q.entry(trigger, kCommand);
        if (!rename(from, taken)) return {false, base, "non rilasciato"};
        QueueRecord rec = read_record(q, trigger);
        rec.next_try = 0;
        atomic_file::write(q.record(trigger), format_record(rec));
        if (!rename(taken, q.entry(trigger, SpoolQueue::kDeferred))) return {false, base, "non rilasciato"};
        touch_retry_flag(q);
        return {true, base, "rilasciato: nuovo tentativo al prossimo giro"};
    }
    if (!rename(from, q.spool + trigger)) return {false, base, "non rilasciato"};
    touch_retry_flag(q);
    return {true, base, "rilasciato nella spool"};
}

std::vector<ControlResult> retry_now(const std::string& spool, const std::vector<std::string>& prefixes,
                                     const std::string& base) {
    const QueuePaths q(spool);
    std::vector<ControlResult> out;
    const bool all = base == "all";
    std::vector<std::string> due;
    std::error_code ec;
    for (fs::directory_iterator it(q.dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string file = it->path().filename().string();
        const std::string suffix = std::string("@") + SpoolQueue::kDeferred;
        if (!file.ends_with(suffix)) continue;
        const std::string trigger = file.substr(0, file.size() - suffix.size());
        if (all ? operator_trigger(trigger, prefixes) : is_trigger_of(trigger, base)) due.push_back(trigger);
    }
    for (const auto& trigger : due) {
        const std::string b = trigger.substr(0, trigger.size() - 2);
        if (make_due(q, trigger))
            out.push_back({true, b, "nuovo tentativo al prossimo giro"});
        else
            out.push_back({false, b, "preso da un agente nel frattempo"});
    }
    if (!all && due.empty()) {
        // A message still in the spool waits only for a hold on delivery, which the flag ends.
        std::string owner;
        const std::string trigger = find_trigger(q, base, owner);
        if (trigger.empty()) out.push_back({false, base, "messaggio non trovato"});
        else if (owner.empty()) out.push_back({true, base, "in attesa nella spool: nuovo tentativo al prossimo giro"});
        else out.push_back({false, base, std::string("non rinviato (") + (owner == SpoolQueue::kHeld ? "sospeso" : owner) + ")"});
    }
    touch_retry_flag(q);
    return out;
}

std::vector<std::string> operator_bases(const std::string& spool, const std::vector<std::string>& prefixes,
                                        bool kept_only) {
    const QueuePaths q(spool);
    std::vector<std::string> out;
    std::error_code ec;
    if (!kept_only) {
        for (fs::directory_iterator it(q.spool, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (name.size() > 2 && text::upper(name.substr(name.size() - 2)) == ".T" && operator_trigger(name, prefixes))
                out.push_back(name.substr(0, name.size() - 2));
        }
    }
    for (fs::directory_iterator it(q.dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string file = it->path().filename().string();
        const auto at = file.rfind('@');
        if (at == std::string::npos || at < 3) continue;
        const std::string owner = file.substr(at + 1), trigger = file.substr(0, at);
        const bool pick = kept_only ? owner == SpoolQueue::kHeld : owner == SpoolQueue::kDeferred;
        if (pick && operator_trigger(trigger, prefixes)) out.push_back(trigger.substr(0, trigger.size() - 2));
    }
    std::sort(out.begin(), out.end());
    return out;
}

ControlResult remove(Runtime& rt, const std::string& spool, const std::string& work, const std::string& base) {
    const QueuePaths q(spool);
    std::string owner;
    const std::string trigger = find_trigger(q, base, owner);
    if (trigger.empty()) return {false, base, "messaggio non trovato"};
    if (SpoolQueue::concluded(owner)) return {false, base, "gia' concluso"};
    if (!owner.empty() && owner != SpoolQueue::kDeferred && owner != SpoolQueue::kHeld)
        return {false, base, "in lavorazione presso l'agente " + owner + ": non rimosso"};
    // Taken from every agent first; a command killed here leaves it to the agents' recovery.
    const std::string taken = q.entry(trigger, kCommand);
    if (!rename(owner.empty() ? q.spool + trigger : q.entry(trigger, owner), taken))
        return {false, base, "preso da un agente nel frattempo: non rimosso"};
    ParkRequest r;
    r.work = work;
    r.spool_dir = spool;
    r.trigger_path = taken;
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
        rename(taken, owner.empty() ? q.spool + trigger : q.entry(trigger, owner));
        return {false, base, "non rimosso: " + kept.why};
    }
    // Concluded, so that an agent's recovery finishes a command cut short from here.
    const std::string done = q.entry(trigger, SpoolQueue::kConcluded);
    if (!rename(taken, done)) return {false, base, "conservato in " + kept.folder + " ma non rimosso dalla coda"};
    for (const auto& p : kept.spool_files) {
        try {
            remove_or_mark_done(p, false);
        } catch (const std::exception&) {
        }
    }
    std::error_code ec;
    fs::remove(done, ec);
    fs::remove(q.record(trigger), ec);
    return {true, base, "rimosso: conservato in " + kept.folder};
}

}  // namespace velarion::spool
