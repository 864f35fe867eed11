#include "spool/queue.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/os/agent_identity.h"
#include "platform/os/error.h"

namespace fs = std::filesystem;

namespace velarion::spool {

namespace {
QueueFolder made(const std::string& spool) {
    std::optional<QueueFolder> q = QueueFolder::open(spool, true);
    if (!q) throw NumberedError(75, "Path/File access error " + spool + "coda/");
    return std::move(*q);
}

PrivateFolder agents_of(const QueueFolder& q) {
    std::optional<PrivateFolder> a = q.agents(true);
    if (!a) throw NumberedError(75, "Path/File access error " + q.path() + "agenti/");
    return std::move(*a);
}

[[noreturn]] void throw_rename(const std::string& from, const std::string& to) {
    throw fs::filesystem_error("rename", from, to, std::error_code(errno, std::generic_category()));
}
}  // namespace

SpoolQueue::SpoolQueue(const std::string& spool)
    : spool_(spool), folder_(made(spool)), agents_(agents_of(folder_)), agent_(agent_identity()) {
    lock_ = FileLock::create_at(agents_.fd(), agent_);
    if (!lock_) throw NumberedError(75, "Path/File access error " + stamp());
}

SpoolQueue::~SpoolQueue() {
    for (const auto& spare : spares_) ::unlinkat(folder_.dir().fd(), spare.c_str(), 0);
    if (lock_) lock_->remove();
}

std::string SpoolQueue::claimed_path(const std::string& name) const {
    return folder_.path() + QueueFolder::entry(name, agent_);
}

std::string SpoolQueue::claimed_file(const std::string& name) const {
    return folder_.reach(QueueFolder::entry(name, agent_));
}

bool SpoolQueue::name_too_long(const std::string& name) const {
    // The longest entry made from it: concluded in this agent's batch.
    return QueueFolder::entry(name, std::string(kConcluded) + "." + agent_).size() > NAME_MAX;
}

void SpoolQueue::rename_or_throw(const std::string& from, const std::string& to) const {
    if (!folder_.dir().rename(from, to)) throw_rename(folder_.path() + from, folder_.path() + to);
}

bool SpoolQueue::take(bool from_spool, const std::string& from, const std::string& name) {
    const std::string to = QueueFolder::entry(name, agent_);
    const bool done = from_spool ? folder_.dir().rename_in(folder_.spool_fd(), from, to) : folder_.dir().rename(from, to);
    if (done) return true;
    const int err = errno;
    const std::string from_path = (from_spool ? spool_ : folder_.path()) + from;
    // A queue folder that has gone is no sign of another agent: the scan
    // says so and makes it again.
    if (!folder_.intact()) {
        errno = err;
        throw_rename(from_path, claimed_path(name));
    }
    // Another agent renamed it first. An NFS client that resent a rename whose
    // answer was lost reports the file missing although its rename was done:
    // then the trigger is there under this agent's name.
    if (err == ENOENT) return folder_.dir().exists(to);
    errno = err;
    throw_rename(from_path, claimed_path(name));
}

bool SpoolQueue::claim(const std::string& name) { return take(true, name, name); }

bool SpoolQueue::claim_deferred(const std::string& name) {
    return take(false, QueueFolder::entry(name, kDeferred), name);
}

bool SpoolQueue::adopt(const std::string& name, const std::string& gone_agent) {
    return take(false, QueueFolder::entry(name, gone_agent), name);
}

void SpoolQueue::release(const std::string& name) {
    if (!folder_.dir().rename_out(QueueFolder::entry(name, agent_), folder_.spool_fd(), name))
        throw_rename(claimed_path(name), spool_ + name);
}

bool SpoolQueue::defer(const std::string& name, const QueueRecord& record) {
    const bool written = folder_.write_record(name, record, atomic_file::Sync::durable);
    rename_or_throw(QueueFolder::entry(name, agent_), QueueFolder::entry(name, kDeferred));
    return written;
}

bool SpoolQueue::intact() const {
    return folder_.intact() && agents_.still_at(folder_.dir().fd(), "agenti") && agents_.exists(agent_);
}

bool SpoolQueue::intact(const struct stat& spool_by_path) const {
    return folder_.intact(spool_by_path) && agents_.still_at(folder_.dir().fd(), "agenti") && agents_.exists(agent_);
}

bool SpoolQueue::conclude(const std::string& name) {
    rename_or_throw(QueueFolder::entry(name, agent_), QueueFolder::entry(name, kConcluded));
    // The spool files are removed only once this is on disk.
    return sync();
}

void SpoolQueue::conclude_in_batch(const std::string& name) {
    rename_or_throw(QueueFolder::entry(name, agent_), QueueFolder::entry(name, std::string(kConcluded) + "." + agent_));
}

bool SpoolQueue::sync() { return folder_.dir().sync(); }

bool SpoolQueue::adopt_concluded(const std::string& name, const std::string& gone_agent) {
    return folder_.dir().rename(QueueFolder::entry(name, std::string(kConcluded) + "." + gone_agent),
                                QueueFolder::entry(name, kConcluded));
}

namespace {
constexpr const char* kLongPrefix = ".lungo.";
}  // namespace

bool SpoolQueue::claim_long(const std::string& name) {
    PrivateFolder::Opened sub = PrivateFolder::open(folder_.dir().fd(), kLongPrefix + agent_, true);
    if (!sub.folder) throw UnsafeQueueFolder(queue_folder_refusal(folder_.path() + kLongPrefix + agent_, sub));
    if (sub.folder->rename_in(folder_.spool_fd(), name, name)) return true;
    if (errno == ENOENT) return false;
    throw_rename(spool_ + name, long_claim_path(name));
}

std::string SpoolQueue::long_claim_path(const std::string& name) const {
    return folder_.reach(kLongPrefix + agent_ + "/" + name);
}

void SpoolQueue::drop_long(const std::string& name) {
    PrivateFolder::Opened sub = PrivateFolder::open(folder_.dir().fd(), kLongPrefix + agent_, false);
    if (sub.folder) sub.folder->remove(name);
    ::unlinkat(folder_.dir().fd(), (kLongPrefix + agent_).c_str(), AT_REMOVEDIR);
}

void SpoolQueue::return_long(const std::string& name) {
    PrivateFolder::Opened sub = PrivateFolder::open(folder_.dir().fd(), kLongPrefix + agent_, false);
    if (sub.folder) sub.folder->rename_out(name, folder_.spool_fd(), name);
    ::unlinkat(folder_.dir().fd(), (kLongPrefix + agent_).c_str(), AT_REMOVEDIR);
}

void SpoolQueue::return_gone_long_claims() {
    const std::string prefix = kLongPrefix;
    for (const auto& folder : folder_.dir().folders()) {
        if (!folder.starts_with(prefix)) continue;
        const std::string agent = folder.substr(prefix.size());
        if (agent == agent_ || !gone(agent)) continue;
        PrivateFolder::Opened sub = PrivateFolder::open(folder_.dir().fd(), folder, false);
        if (!sub.folder) continue;
        for (const auto& name : sub.folder->plain_files()) sub.folder->rename_out(name, folder_.spool_fd(), name);
        ::unlinkat(folder_.dir().fd(), folder.c_str(), AT_REMOVEDIR);
    }
}

bool SpoolQueue::concluded(const std::string& owner) {
    return owner == kConcluded || (owner.size() > 9 && owner.rfind(std::string(kConcluded) + ".", 0) == 0);
}

std::string SpoolQueue::concluding_agent(const std::string& owner) {
    return owner.size() > 9 && concluded(owner) ? owner.substr(9) : "";
}

void SpoolQueue::forget(const std::string& name, bool mark_done) {
    const PrivateFolder& dir = folder_.dir();
    const std::string record = QueueFolder::record_name(name);
    if (name == appended_) appended_.clear();
    bool kept = false;
    if (!spares_refused_ && spares_.size() < kSpares) {
        // A name no agent ever used before, hidden from the queue's entries.
        const std::string spare = "." + agent_ + "." + std::to_string(++spares_made_) + ".stato.part";
        kept = ::renameat(dir.fd(), record.c_str(), dir.fd(), spare.c_str()) == 0;
        if (kept) spares_.push_back(spare);
        else kept = errno == ENOENT;  // it had no record
    }
    if (!kept) dir.remove(record);
    // Concluded in this agent's batch, or on its own: the batch's name is
    // tried first, the other only when that one is missing.
    const std::string in_batch = QueueFolder::entry(name, std::string(kConcluded) + "." + agent_);
    const std::string alone = QueueFolder::entry(name, kConcluded);
    if (mark_done) {
        if (!dir.rename_out(in_batch, folder_.spool_fd(), name + ".FATTO") && errno == ENOENT)
            dir.rename_out(alone, folder_.spool_fd(), name + ".FATTO");
    } else if (::unlinkat(dir.fd(), in_batch.c_str(), 0) != 0) {
        dir.remove(errno == ENOENT ? alone : in_batch);  // a trigger that was a folder too
    }
}

QueueRecord SpoolQueue::record(const std::string& name) const { return folder_.record(name); }

void SpoolQueue::write_record(const std::string& name, const QueueRecord& record) {
    if (!folder_.write_record(name, record, atomic_file::Sync::durable))
        throw NumberedError(75, "Path/File access error " + folder_.path() + QueueFolder::record_name(name));
}

bool SpoolQueue::place_spare(const std::string& name, const std::string& lines) {
    const PrivateFolder& dir = folder_.dir();
    const std::string spare = spares_.back();
    spares_.pop_back();
    // Filled whole under its own name first: a kill leaves the message
    // without a record, or with this one complete.
    const safe_path::Fd fd(::openat(dir.fd(), spare.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        ::pwrite(fd.get(), lines.data(), lines.size(), 0) != static_cast<ssize_t>(lines.size()) ||
        (st.st_size > static_cast<off_t>(lines.size()) && ::ftruncate(fd.get(), static_cast<off_t>(lines.size())) != 0)) {
        // Removed meanwhile as an old temporary, or no longer a plain file.
        dir.remove(spare);
        return false;
    }
    // Never over a record that is there: that one is appended to.
    if (::renameat2(dir.fd(), spare.c_str(), dir.fd(), QueueFolder::record_name(name).c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno == EEXIST) {
        spares_.push_back(spare);
        return false;
    }
    if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) {
        // A file system without that kind of rename: no spares from now on.
        spares_refused_ = true;
        for (const auto& s : spares_) ::unlinkat(dir.fd(), s.c_str(), 0);
        spares_.clear();
    }
    dir.remove(spare);
    return false;
}

bool SpoolQueue::append_record(const std::string& name, const std::string& lines) {
    // A record this agent wrote a moment ago (a draft's Message-ID, then the
    // mark of its delivery) is there: no spare is tried for it.
    const bool done = (name != appended_ && !spares_.empty() && place_spare(name, lines)) ||
                      folder_.append_record(name, lines);
    appended_ = done ? name : "";
    return done;
}

bool SpoolQueue::note_record(const std::string& name, const QueueRecord& record) {
    return folder_.write_record(name, record, atomic_file::Sync::work_file);
}

std::vector<SpoolQueue::Entry> SpoolQueue::entries() const {
    std::vector<Entry> out;
    for (auto& e : folder_.entries()) out.push_back({std::move(e.name), std::move(e.owner)});
    return out;
}

std::vector<SpoolQueue::Entry> SpoolQueue::entries_now(long long now_ms) {
    if (watch_.quiet(folder_.dir().fd(), now_ms)) return listed_;
    listed_ = entries();
    watch_.listed(now_ms);
    return listed_;
}

bool SpoolQueue::retry_requested(long long now_ms) {
    if (flag_watch_.quiet(folder_.dir().fd(), now_ms)) return false;
    flag_watch_.listed(now_ms);
    const long long t = folder_.dir().modified_ns(kRetryFlag);
    const long long seen = t < 0 ? 0 : t;
    const bool asked = retry_flag_seen_.has_value() && seen != *retry_flag_seen_;
    retry_flag_seen_ = seen;
    return asked;
}

bool SpoolQueue::gone(const std::string& agent) const {
    return FileLock::probe_at(agents_.fd(), agent) != FileLock::State::held;
}

void SpoolQueue::remove_stale_temporaries() {
    constexpr long long kStaleSeconds = 60;
    // The file system's time, from this agent's own lock file touched now
    // (both reached through the folders' descriptors, never through a link).
    struct stat now {};
    if (::utimensat(agents_.fd(), agent_.c_str(), nullptr, AT_SYMLINK_NOFOLLOW) != 0 ||
        ::fstatat(agents_.fd(), agent_.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    for (const auto& file : folder_.dir().plain_files()) {
        if (file.size() < 2 || file[0] != '.' || !file.ends_with(".part") || file.find(".stato.") == std::string::npos)
            continue;
        struct stat st {};
        if (::fstatat(folder_.dir().fd(), file.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
        if (now.st_mtim.tv_sec - st.st_mtim.tv_sec < kStaleSeconds) continue;
        folder_.dir().remove(file);
    }
}

void SpoolQueue::bury_gone() {
    // Only the plain files of the agents' own folder, reached through its
    // descriptor: nothing a link leads to is ever removed.
    for (const auto& agent : agents_.plain_files()) {
        if (agent.empty() || agent[0] == '.' || agent == agent_ || agent.ends_with(".new")) continue;
        if (!gone(agent)) continue;
        agents_.remove(agent);
    }
}

}  // namespace velarion::spool
