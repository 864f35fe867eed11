#include "spool/work_claims.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <system_error>

#include "common/work_folder.h"
#include "platform/os/agent_identity.h"
#include "platform/os/error.h"
#include "platform/os/text_encoding.h"

namespace fs = std::filesystem;

namespace velarion::spool {

namespace {
constexpr const char* kLock = ".lock";
constexpr const char* kList = ".elenco";

// The copies folders of agents whose lock is no longer held, and of those
// whose lock is gone (a kill leaves both: copies made ahead of their turn).
void remove_gone_copies(const std::string& dir, const std::string& self) {
    std::error_code ec;
    std::vector<fs::path> gone;
    const std::string suffix = std::string(WorkClaims::kCopies).substr(0, std::string(WorkClaims::kCopies).size() - 1);
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string file = it->path().filename().string();
        if (file.size() <= suffix.size() || !file.ends_with(suffix) || file[0] == '.') continue;
        const std::string agent = file.substr(0, file.size() - suffix.size());
        if (agent != self && FileLock::probe(dir + agent + kLock) != FileLock::State::held) gone.push_back(it->path());
    }
    for (const auto& p : gone) {
        std::error_code rm;
        fs::remove_all(p, rm);
    }
}

}  // namespace

WorkClaims::WorkClaims(const std::string& work)
    : dir_(work + work_folder::kAgentsFolder), work_(work), agent_(agent_identity()), lock_path_(dir_ + agent_ + kLock) {
    std::error_code ec;
    fs::create_directories(dir_, ec);
    lock_ = FileLock::create(dir_ + agent_ + kLock);
    if (!lock_) throw NumberedError(75, "Path/File access error " + dir_ + agent_ + kLock);
    remove_gone_copies(dir_, agent_);
}

WorkClaims::~WorkClaims() {
    std::error_code ec;
    fs::remove(dir_ + agent_ + kList, ec);
    fs::remove_all(copies(), ec);
    if (lock_) lock_->remove();
}

bool WorkClaims::intact() const {
    struct stat st {};
    return ::stat(lock_path_.c_str(), &st) == 0;
}

bool WorkClaims::live(const std::string& agent) const {
    return agent == agent_ || FileLock::probe(dir_ + agent + kLock) == FileLock::State::held;
}

void WorkClaims::publish(const std::vector<std::string>& names) {
    std::string text;
    for (const auto& n : names) text += n + "\n";
    const std::string path = dir_ + agent_ + kList;
    // Read by the live agents of this work folder only, and only while this
    // agent's lock is held (a kill frees it, and the list is ignored): no
    // sync to disk and no replacement by rename, which would make a file
    // per message. A list removed under the agent (with its folder) is made
    // again, or the message waits as for any folder of the agent's own gone.
    struct stat st {};
    if (list_.valid() && (::fstat(list_.get(), &st) != 0 || st.st_nlink == 0)) list_ = safe_path::Fd();
    if (!list_.valid()) {
        safe_path::Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600));
        if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
            throw NumberedError(75, "Path/File access error " + path);
        list_ = std::move(fd);
        listed_ = 0;
    }
    // The new names first, then the old tail cut: at no instant does the
    // file name fewer than the new names once they are written.
    if (::pwrite(list_.get(), text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()) ||
        (text.size() < listed_ && ::ftruncate(list_.get(), static_cast<off_t>(text.size())) != 0)) {
        list_ = safe_path::Fd();
        throw NumberedError(75, "Path/File access error " + path);
    }
    listed_ = text.size();
}

std::vector<std::string> WorkClaims::others_in_use() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir_, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string file = it->path().filename().string();
        if (!file.ends_with(kLock) || file[0] == '.') continue;
        const std::string agent = file.substr(0, file.size() - std::string(kLock).size());
        if (agent == agent_) continue;
        const std::string list = dir_ + agent + kList;
        if (FileLock::probe(it->path().string()) != FileLock::State::held) {
            std::error_code rm;
            fs::remove(list, rm);
            fs::remove(it->path(), rm);
            continue;
        }
        std::ifstream in(list, std::ios::binary);
        for (std::string line; std::getline(in, line);)
            if (!line.empty()) names.push_back(line);
    }
    remove_gone_copies(dir_, agent_);
    return names;
}

bool in_use(const std::vector<std::string>& names, const std::string& file_name) {
    // A file being written lies under a hidden temporary name first
    // (".<name>.<pid>.<hex>.part", atomic_file.h): it belongs to its name.
    if (file_name.size() > 6 && file_name[0] == '.' && file_name.ends_with(".part")) {
        const std::string upper = text::upper(file_name.substr(1));
        for (const auto& n : names) {
            std::string u = text::upper(n);
            if (!u.empty() && u.back() == '*') u.pop_back();
            if (!u.empty() && upper.rfind(u, 0) == 0) return true;
        }
        return false;
    }
    const std::string upper = text::upper(file_name);
    for (const auto& n : names) {
        const std::string u = text::upper(n);
        if (!u.empty() && u.back() == '*') {
            if (upper.compare(0, u.size() - 1, u, 0, u.size() - 1) == 0) return true;
        } else if (u == upper) {
            return true;
        }
    }
    return false;
}

}  // namespace velarion::spool
