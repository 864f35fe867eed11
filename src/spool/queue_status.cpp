#include "spool/queue_status.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>

#include "platform/os/file_lock.h"
#include "platform/os/text_encoding.h"
#include "spool/queue.h"
#include "spool/queue_folder.h"
#include "spool/recovery.h"
#include "spool/spool_files.h"
#include "spool/spool_listing.h"
#include "spool/timing.h"

namespace fs = std::filesystem;

namespace velarion::spool {

namespace {

// A record or a parking reason is a few lines; more is not read.
constexpr std::size_t kSmallFile = 8 * 1024;

std::string base_of(const std::string& trigger) { return trigger.substr(0, trigger.size() - 2); }

// The modification time of a trigger (a move into the queue keeps it); 0 when unknown.
long long written_at(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return 0;
    return static_cast<long long>(st.st_mtime);
}

long long size_of(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? static_cast<long long>(st.st_size) : 0;
}

// The first `count` lines of at most kMaxHeader bytes, each cut at kMaxHeaderLine.
std::vector<std::string> first_lines(const std::string& path, std::size_t count) {
    std::vector<std::string> lines;
    if (path.empty() || !refused_kind(path).empty()) return lines;
    const std::string head = read_head(path, kMaxHeader);
    std::size_t from = 0;
    while (lines.size() < count && from < head.size()) {
        std::size_t end = head.find('\n', from);
        if (end == std::string::npos) end = head.size();
        std::string line = head.substr(from, std::min(end - from, kMaxHeaderLine));
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        from = end + 1;
    }
    return lines;
}

std::string key_of(const std::string& text, const std::string& key) {
    const std::string at = key + "=";
    std::size_t p = text.rfind("\n" + at) != std::string::npos ? text.rfind("\n" + at) + 1
                                                              : (text.rfind(at, 0) == 0 ? 0 : std::string::npos);
    if (p == std::string::npos) return "";
    p += at.size();
    return text.substr(p, text.find('\n', p) - p);
}

bool is_trigger_name(const std::string& name) {
    return name.size() > 2 && text::upper(name.substr(name.size() - 2)) == ".T";
}

// Parked messages: each folder below non_inviati/ with its originals.
void read_parked(const std::string& work, const std::vector<std::string>& prefixes, std::vector<QueuedMessage>& out) {
    std::error_code ec;
    for (fs::directory_iterator it(work + "non_inviati", ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code type_ec;
        if (!it->is_directory(type_ec) || it->is_symlink(type_ec)) continue;
        const std::string folder = it->path().string() + "/";
        QueuedMessage m;
        m.state = QueueState::parked;
        m.folder = folder;
        std::error_code list_ec;
        for (fs::directory_iterator o(folder + "originale", list_ec), oe; !list_ec && o != oe; o.increment(list_ec)) {
            const std::string name = o->path().filename().string();
            if (is_trigger_name(name)) m.base = base_of(name);
        }
        if (m.base.empty()) {
            // Named <base>_<stamp>: the base is what comes before the last "_".
            const std::string name = it->path().filename().string();
            m.base = name.substr(0, name.rfind('_'));
        }
        if (!operator_trigger(m.base + ".T", prefixes)) continue;
        m.files = folder + "originale/";
        if (!fs::exists(m.files + m.base + ".h", type_ec)) m.files = folder;
        m.header = m.files + m.base + ".h";
        m.written = written_at(folder);
        out.push_back(std::move(m));
    }
}

// The holds of the running agents of these operators, from their lock files
// (read through the agents' folder descriptor, never through a link).
std::vector<SideHold> running_holds(const PrivateFolder& agents, const std::vector<std::string>& prefixes) {
    std::vector<SideHold> out;
    for (const auto& name : agents.plain_files()) {
        if (name.empty() || name[0] == '.' || name.ends_with(".new")) continue;
        const AgentNote note = parse_note(agents.read(name, 4096));
        if (note.holds.empty()) continue;
        // An agent of other operators holds back only its own messages.
        bool ours = false;
        for (const auto& p : note.prefixes)
            for (const auto& mine : prefixes) ours = ours || p == "*" || mine == "*" || text::upper(p) == text::upper(mine);
        if (!ours || FileLock::probe_at(agents.fd(), name) != FileLock::State::held) continue;
        for (const auto& h : note.holds) {
            // One hold per side: the one that began first.
            auto same = std::find_if(out.begin(), out.end(), [&](const SideHold& o) { return o.side == h.side; });
            if (same == out.end()) out.push_back(h);
            else if (h.since < same->since) *same = h;
        }
    }
    return out;
}

}  // namespace

const QueueState kQueueStates[10] = {QueueState::waiting,     QueueState::held_transport, QueueState::held_store,
                                     QueueState::timing,      QueueState::in_progress,    QueueState::interrupted,
                                     QueueState::deferred,    QueueState::on_hold,        QueueState::concluding,
                                     QueueState::parked};

const char* state_name(QueueState s) {
    switch (s) {
        case QueueState::waiting: return "in attesa";
        case QueueState::held_transport: return "in attesa (invio)";
        case QueueState::held_store: return "in attesa (archivio)";
        case QueueState::timing: return "in attesa TIMING";
        case QueueState::in_progress: return "in lavorazione";
        case QueueState::interrupted: return "interrotto";
        case QueueState::deferred: return "rinviato";
        case QueueState::on_hold: return "sospeso";
        case QueueState::concluding: return "concluso";
        case QueueState::parked: return "non inviato";
    }
    return "";
}

const char* state_key(QueueState s) {
    switch (s) {
        case QueueState::waiting: return "waiting";
        case QueueState::held_transport: return "held_transport";
        case QueueState::held_store: return "held_store";
        case QueueState::timing: return "timing";
        case QueueState::in_progress: return "in_progress";
        case QueueState::interrupted: return "interrupted";
        case QueueState::deferred: return "deferred";
        case QueueState::on_hold: return "on_hold";
        case QueueState::concluding: return "concluding";
        case QueueState::parked: return "parked";
    }
    return "unknown";
}

std::string hold_text(const SideHold& h) {
    const DateTime t = from_seconds(h.since);
    char since[8];
    std::snprintf(since, sizeof since, "%02d:%02d", t.hour % 100, t.minute % 100);
    return std::string(h.kind == Delivered::logon_refused ? "accesso alla posta rifiutato"
                                                           : "server di posta non raggiungibile") +
           " dalle " + since;
}

QueueReport read_queue(const std::string& spool, const std::string& work, const std::vector<std::string>& prefixes,
                       const DateTime& now, const DraftRule& draft) {
    QueueReport r;
    std::unique_ptr<SpoolListing> listing;
    try {
        listing = std::make_unique<SpoolListing>(spool);
    } catch (const std::exception&) {
        // a spool folder that cannot be listed holds nothing to show
    }
    auto header_of = [&](const std::string& base) { return listing ? listing->find(base + ".h") : std::string(); };
    // The queue folder only through its descriptor, and only when it is the agent's own.
    std::optional<QueueFolder> q;
    try {
        q = QueueFolder::open(spool, false);
    } catch (const UnsafeQueueFolder& e) {
        r.refusal = e.what();
    } catch (const std::exception&) {
        // a spool folder that cannot be opened has no queue to show
    }
    const std::optional<PrivateFolder> agents = q ? q->agents(false) : std::nullopt;
    if (draft && agents) r.holds = running_holds(*agents, prefixes);
    // The side a waiting message needs, when that side is held: the hold's index.
    auto held = [&](QueuedMessage& m) {
        if (r.holds.empty()) return;
        const auto lines = first_lines(m.header, 7);
        const bool save = draft(lines.size() > 6 ? lines[6] : "", lines.size() > 3 ? lines[3] : "");
        const Target side = save ? Target::store : Target::transport;
        for (std::size_t i = 0; i < r.holds.size(); ++i) {
            if (r.holds[i].side != side) continue;
            m.hold = static_cast<int>(i);
            m.state = save ? QueueState::held_store : QueueState::held_transport;
        }
    };

    if (listing) {
        for (const auto& name : listing->names()) {
            if (!operator_trigger(name, prefixes)) continue;
            QueuedMessage m;
            m.base = base_of(name);
            const std::string path = spool + name;
            m.state = !is_link(path) && held_by_timing(read_head(path, 500), now) ? QueueState::timing
                                                                                   : QueueState::waiting;
            m.written = written_at(path);
            m.header = header_of(m.base);
            m.files = spool;
            if (m.state == QueueState::waiting) held(m);
            r.messages.push_back(std::move(m));
        }
    }

    for (const auto& e : q ? q->entries() : std::vector<QueueFolder::Entry>{}) {
        const std::string& trigger = e.name;
        const std::string& owner = e.owner;
        if (!operator_trigger(trigger, prefixes)) continue;
        QueuedMessage m;
        m.base = base_of(trigger);
        if (owner == SpoolQueue::kDeferred) {
            m.state = QueueState::deferred;
        } else if (owner == SpoolQueue::kHeld) {
            m.state = QueueState::on_hold;
        } else if (SpoolQueue::concluded(owner)) {
            m.state = QueueState::concluding;
        } else {
            m.agent = owner;
            m.state = agents && FileLock::probe_at(agents->fd(), owner) == FileLock::State::held
                          ? QueueState::in_progress
                          : QueueState::interrupted;
        }
        // The record through the queue folder's descriptor (a few KB at most).
        const QueueRecord rec = q->record(trigger);
        m.tries = rec.tries;
        m.last_try = rec.last_try;
        m.next_try = rec.next_try;
        m.reason = rec.reason;
        m.written = q->dir().modified_ns(QueueFolder::entry(trigger, owner)) / 1000000000LL;
        m.header = header_of(m.base);
        m.files = spool;
        if (m.state == QueueState::deferred) held(m);
        r.messages.push_back(std::move(m));
    }

    read_parked(work, prefixes, r.messages);
    std::stable_sort(r.messages.begin(), r.messages.end(), [](const QueuedMessage& a, const QueuedMessage& b) {
        return a.state != b.state ? a.state < b.state : a.base < b.base;
    });
    r.today = read_day_counts(work, now.year * 10000 + now.month * 100 + now.day);
    return r;
}

void read_details(const QueueReport& report, QueuedMessage& m) {
    const auto lines = first_lines(m.header, 5);
    if (lines.size() > 0) m.reference = lines[0];
    if (lines.size() > 2) m.from = lines[2];
    if (lines.size() > 3) m.to = lines[3];
    if (lines.size() > 4) m.subject = lines[4];
    m.size = 0;
    if (!m.files.empty())
        for (const char* ext : {".T", ".h", ".b", ".0"}) m.size += size_of(m.files + m.base + ext);
    if (m.state == QueueState::parked) m.reason = key_of(read_head(m.folder + "motivo.txt", kSmallFile), "motivo");
    if (m.hold >= 0 && m.hold < static_cast<int>(report.holds.size())) {
        // Held with its side: the hold is its reason, and its next try that of the server.
        const SideHold& h = report.holds[static_cast<std::size_t>(m.hold)];
        m.reason = hold_text(h);
        m.tries = std::max(m.tries, h.failures);
        m.next_try = std::max(m.next_try, h.next_try);
    }
}

}  // namespace velarion::spool
