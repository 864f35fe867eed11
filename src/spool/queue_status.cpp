#include "spool/queue_status.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
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

std::string base_of(const std::string& trigger) { return trigger.substr(0, trigger.size() - 2); }

// The modification time of a trigger (a move into the queue keeps it); 0 when unknown.
long long written_at(const std::string& path) {
    std::error_code ec;
    const auto t = fs::last_write_time(path, ec);
    if (ec) return 0;
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::file_clock::to_sys(t).time_since_epoch())
        .count();
}

// Lines 1, 4 and 5 of a header; a link or an unreadable file tells nothing.
void read_header(const std::string& path, QueuedMessage& m) {
    if (path.empty() || !refused_kind(path).empty()) return;
    try {
        const auto lines = read_lines(path);
        if (lines.size() > 0) m.reference = lines[0];
        if (lines.size() > 3) m.to = lines[3];
        if (lines.size() > 4) m.subject = lines[4];
    } catch (const std::exception&) {
    }
}

std::string read_small(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string text(std::istreambuf_iterator<char>(in), {});
    return text.substr(0, 64 * 1024);
}

std::string key_of(const std::string& text, const std::string& key) {
    const std::string at = key + "=";
    std::size_t p = text.rfind("\n" + at) != std::string::npos ? text.rfind("\n" + at) + 1
                                                              : (text.rfind(at, 0) == 0 ? 0 : std::string::npos);
    if (p == std::string::npos) return "";
    p += at.size();
    return text.substr(p, text.find('\n', p) - p);
}

// Parked messages: each folder below non_inviati/ with its motivo.txt and originals.
void read_parked(const std::string& work, const std::vector<std::string>& prefixes, std::vector<QueuedMessage>& out) {
    std::error_code ec;
    for (fs::directory_iterator it(work + "non_inviati", ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code type_ec;
        if (!it->is_directory(type_ec) || it->is_symlink(type_ec)) continue;
        const std::string folder = it->path().string() + "/";
        QueuedMessage m;
        m.state = QueueState::parked;
        m.folder = folder;
        const std::string motivo = read_small(folder + "motivo.txt");
        m.reason = key_of(motivo, "motivo");
        std::error_code list_ec;
        for (fs::directory_iterator o(folder + "originale", list_ec), oe; !list_ec && o != oe; o.increment(list_ec)) {
            const std::string name = o->path().filename().string();
            if (name.size() > 2 && text::upper(name.substr(name.size() - 2)) == ".T") m.base = base_of(name);
        }
        if (m.base.empty()) {
            // Named <base>_<stamp>: the base is what comes before the last "_".
            const std::string name = it->path().filename().string();
            m.base = name.substr(0, name.rfind('_'));
        }
        if (!operator_trigger(m.base + ".T", prefixes)) continue;
        std::string header = folder + "originale/" + m.base + ".h";
        if (!fs::exists(header, type_ec)) header = folder + m.base + ".h";
        read_header(header, m);
        out.push_back(std::move(m));
    }
}

}  // namespace

const char* state_name(QueueState s) {
    switch (s) {
        case QueueState::waiting: return "in attesa";
        case QueueState::timing: return "in attesa TIMING";
        case QueueState::in_progress: return "in lavorazione";
        case QueueState::interrupted: return "interrotto";
        case QueueState::deferred: return "rinviato";
        case QueueState::held: return "sospeso";
        case QueueState::concluding: return "concluso";
        case QueueState::parked: return "non inviato";
    }
    return "";
}

QueueReport read_queue(const std::string& spool, const std::string& work, const std::vector<std::string>& prefixes,
                       const DateTime& now) {
    QueueReport r;
    std::unique_ptr<SpoolListing> listing;
    try {
        listing = std::make_unique<SpoolListing>(spool);
    } catch (const std::exception&) {
        // a spool folder that cannot be listed holds nothing to show
    }
    auto header_of = [&](const std::string& base) { return listing ? listing->find(base + ".h") : std::string(); };

    if (listing) {
        for (const auto& name : listing->names()) {
            if (!operator_trigger(name, prefixes)) continue;
            QueuedMessage m;
            m.base = base_of(name);
            const std::string path = spool + name;
            m.state = !is_link(path) && held_by_timing(read_head(path, 500), now) ? QueueState::timing
                                                                                   : QueueState::waiting;
            m.written = written_at(path);
            read_header(header_of(m.base), m);
            r.messages.push_back(std::move(m));
        }
    }

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
    for (const auto& e : q ? q->entries() : std::vector<QueueFolder::Entry>{}) {
        const std::string& trigger = e.name;
        const std::string& owner = e.owner;
        if (!operator_trigger(trigger, prefixes)) continue;
        QueuedMessage m;
        m.base = base_of(trigger);
        if (owner == SpoolQueue::kDeferred) {
            m.state = QueueState::deferred;
        } else if (owner == SpoolQueue::kHeld) {
            m.state = QueueState::held;
        } else if (SpoolQueue::concluded(owner)) {
            m.state = QueueState::concluding;
        } else {
            m.agent = owner;
            m.state = agents && FileLock::probe_at(agents->fd(), owner) == FileLock::State::held
                          ? QueueState::in_progress
                          : QueueState::interrupted;
        }
        const QueueRecord rec = q->record(trigger);
        m.tries = rec.tries;
        m.last_try = rec.last_try;
        m.next_try = rec.next_try;
        m.reason = rec.reason;
        m.written = q->dir().modified_ns(QueueFolder::entry(trigger, owner)) / 1000000000LL;
        read_header(header_of(m.base), m);
        r.messages.push_back(std::move(m));
    }

    read_parked(work, prefixes, r.messages);
    std::stable_sort(r.messages.begin(), r.messages.end(), [](const QueuedMessage& a, const QueuedMessage& b) {
        return a.state != b.state ? a.state < b.state : a.base < b.base;
    });
    r.today = read_day_counts(work, now.year * 10000 + now.month * 100 + now.day);
    return r;
}

}  // namespace velarion::spool
