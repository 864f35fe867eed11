#include "spool/queue.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/os/agent_identity.h"
#include "platform/os/atomic_file.h"
#include "platform/os/error.h"
#include "platform/os/file_moves.h"

namespace fs = std::filesystem;

namespace velarion::spool {

namespace {
void rename_or_throw(const std::string& from, const std::string& to) {
    std::error_code ec;
    fs::rename(from, to, ec);
    if (ec) throw fs::filesystem_error("rename", from, to, ec);
}
}  // namespace

SpoolQueue::SpoolQueue(const std::string& spool)
    : spool_(spool), dir_(spool + "coda/"), agent_(agent_identity()) {
    std::error_code ec;
    fs::create_directories(dir_ + "agenti", ec);
    lock_ = FileLock::create(lock_path(agent_));
    if (!lock_) throw NumberedError(75, "Path/File access error " + lock_path(agent_));
}

SpoolQueue::~SpoolQueue() {
    if (lock_) lock_->remove();
}

std::string SpoolQueue::in_queue(const std::string& name, const std::string& owner) const {
    return dir_ + name + "@" + owner;
}

std::string SpoolQueue::claimed_path(const std::string& name) const { return in_queue(name, agent_); }

bool SpoolQueue::take(const std::string& from, const std::string& name) {
    const std::string to = claimed_path(name);
    std::error_code ec;
    fs::rename(from, to, ec);
    if (!ec) return true;
    // A queue folder that has gone is no sign of another agent: the scan
    // says so and makes it again.
    std::error_code dir_ec;
    if (!fs::is_directory(dir_, dir_ec)) throw fs::filesystem_error("rename", from, to, ec);
    // Another agent renamed it first. An NFS client that resent a rename whose
    // answer was lost reports the file missing although its rename was done:
    // then the trigger is there under this agent's name.
    if (ec == std::errc::no_such_file_or_directory) return fs::exists(to, ec);
    throw fs::filesystem_error("rename", from, to, ec);
}

bool SpoolQueue::claim(const std::string& name) { return take(spool_ + name, name); }

bool SpoolQueue::claim_deferred(const std::string& name) { return take(in_queue(name, kDeferred), name); }

bool SpoolQueue::adopt(const std::string& name, const std::string& gone_agent) {
    return take(in_queue(name, gone_agent), name);
}

void SpoolQueue::release(const std::string& name) { rename_or_throw(claimed_path(name), spool_ + name); }

bool SpoolQueue::defer(const std::string& name, const QueueRecord& record) {
    const bool written = atomic_file::write(record_path(name), format_record(record));
    rename_or_throw(claimed_path(name), in_queue(name, kDeferred));
    return written;
}

bool SpoolQueue::intact() const {
    std::error_code ec;
    return fs::is_directory(dir_ + "agenti", ec) && fs::exists(lock_path(agent_), ec);
}

bool SpoolQueue::conclude(const std::string& name) {
    rename_or_throw(claimed_path(name), in_queue(name, kConcluded));
    // The spool files are removed only once this is on disk.
    return sync();
}

void SpoolQueue::conclude_in_batch(const std::string& name) {
    rename_or_throw(claimed_path(name), in_queue(name, std::string(kConcluded) + "." + agent_));
}

bool SpoolQueue::sync() { return file_moves::sync_folder(dir_); }

bool SpoolQueue::adopt_concluded(const std::string& name, const std::string& gone_agent) {
    std::error_code ec;
    fs::rename(in_queue(name, std::string(kConcluded) + "." + gone_agent), in_queue(name, kConcluded), ec);
    return !ec;
}

bool SpoolQueue::concluded(const std::string& owner) {
    return owner == kConcluded || (owner.size() > 9 && owner.rfind(std::string(kConcluded) + ".", 0) == 0);
}

std::string SpoolQueue::concluding_agent(const std::string& owner) {
    return owner.size() > 9 && concluded(owner) ? owner.substr(9) : "";
}

void SpoolQueue::forget(const std::string& name, bool mark_done) {
    std::error_code ec;
    fs::remove(record_path(name), ec);
    // Concluded in this agent's batch, or on its own.
    std::string concluded = in_queue(name, std::string(kConcluded) + "." + agent_);
    if (!fs::exists(fs::symlink_status(concluded, ec))) concluded = in_queue(name, kConcluded);
    if (mark_done)
        fs::rename(concluded, spool_ + name + ".FATTO", ec);
    else
        fs::remove_all(concluded, ec);  // a trigger that was a folder too
}

QueueRecord SpoolQueue::record(const std::string& name) const {
    // A record that cannot be read counts as none: the message is tried as a new one.
    std::error_code ec;
    if (!fs::is_regular_file(record_path(name), ec)) return {};
    try {
        std::ifstream in(record_path(name), std::ios::binary);
        if (!in) return {};
        return parse_record(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    } catch (const std::exception&) {
        return {};
    }
}

void SpoolQueue::write_record(const std::string& name, const QueueRecord& record) {
    if (!atomic_file::write(record_path(name), format_record(record)))
        throw NumberedError(75, "Path/File access error " + record_path(name));
}

bool SpoolQueue::note_record(const std::string& name, const QueueRecord& record) {
    atomic_file::Replacement r(record_path(name));
    return r.write(format_record(record)) && r.commit(atomic_file::Sync::work_file);
}

std::vector<SpoolQueue::Entry> SpoolQueue::entries() const {
    std::vector<Entry> out;
    std::error_code ec;
    for (fs::directory_iterator it(dir_, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code type_ec;
        if (!it->is_regular_file(type_ec)) continue;
        const std::string file = it->path().filename().string();
        if (file.empty() || file[0] == '.' || file.ends_with(".stato")) continue;
        const auto at = file.rfind('@');
        if (at == std::string::npos || at == 0 || at + 1 == file.size()) continue;
        out.push_back({file.substr(0, at), file.substr(at + 1)});
    }
    return out;
}

bool SpoolQueue::retry_requested() {
    std::error_code ec;
    const auto t = fs::last_write_time(QueuePaths(spool_).retry_flag(), ec);
    const long long seen = ec ? 0 : static_cast<long long>(t.time_since_epoch().count());
    const bool asked = retry_flag_seen_ >= 0 && seen != retry_flag_seen_;
    retry_flag_seen_ = seen;
    return asked;
}

bool SpoolQueue::gone(const std::string& agent) const {
    return FileLock::probe(lock_path(agent)) != FileLock::State::held;
}

void SpoolQueue::remove_stale_temporaries() {
    constexpr long long kStaleSeconds = 60;
    // The file system's time, from this agent's own lock file touched now.
    struct stat now {};
    if (::utimensat(AT_FDCWD, lock_path(agent_).c_str(), nullptr, 0) != 0 ||
        ::stat(lock_path(agent_).c_str(), &now) != 0)
        return;
    std::error_code ec;
    for (fs::directory_iterator it(dir_, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string file = it->path().filename().string();
        if (file.size() < 2 || file[0] != '.' || !file.ends_with(".part") || file.find(".stato.") == std::string::npos)
            continue;
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (now.st_mtim.tv_sec - st.st_mtim.tv_sec < kStaleSeconds) continue;
        std::error_code rm;
        fs::remove(it->path(), rm);
    }
}

void SpoolQueue::bury_gone() {
    std::error_code ec;
    for (fs::directory_iterator it(dir_ + "agenti", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string agent = it->path().filename().string();
        if (agent.empty() || agent[0] == '.' || agent == agent_ || agent.ends_with(".new")) continue;
        if (!gone(agent)) continue;
        std::error_code rm;
        fs::remove(it->path(), rm);
    }
}

}  // namespace velarion::spool
