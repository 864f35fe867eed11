#include "spool/kept_append.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <vector>

#include "platform/os/kept_file.h"
#include "platform/os/safe_path.h"

namespace velarion::spool {

namespace {

// Files kept at once: the day's sent messages, bodies and outcomes, and the
// notes of resends; the longest unused goes first.
constexpr std::size_t kKept = 4;

struct Kept {
    std::string path;
    safe_path::Fd fd;
    // A file removed or replaced is seen at once; one renamed away gets the
    // lines of at most a second.
    KeptFileCheck check{false};
    long long used = 0;
};

struct KeptFiles {
    std::mutex lock;
    std::vector<Kept> files;
    long long uses = 0;
};

KeptFiles& kept_files() {
    static KeptFiles k;
    return k;
}

long long now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Opens the file by its path without following a link and never waiting on
// a FIFO; only a plain file is kept.
bool open_kept(Kept& k, const std::string& dir, const std::string& path, long long now) {
    k.fd = safe_path::Fd();
    const int flags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    safe_path::Fd fd(::open(path.c_str(), flags, 0600));
    if (!fd.valid() && errno == ENOENT) {
        std::error_code ec;
        std::filesystem::create_directories(dir, ec);
        fd = safe_path::Fd(::open(path.c_str(), flags, 0600));
    }
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    k.path = path;
    k.fd = std::move(fd);
    k.check.opened(st, now);
    return true;
}

}  // namespace

bool append_kept(const std::string& dir, const std::string& name, std::string_view text, bool* opened) {
    const std::string path = dir + name;
    KeptFiles& all = kept_files();
    const std::lock_guard<std::mutex> hold(all.lock);
    const long long now = now_ms();
    Kept* k = nullptr;
    for (auto& f : all.files)
        if (f.path == path) k = &f;
    if (!k) {
        if (all.files.size() < kKept) {
            all.files.emplace_back();
            k = &all.files.back();
        } else {
            k = &all.files.front();
            for (auto& f : all.files)
                if (f.used < k->used) k = &f;
        }
        k->path.clear();
        k->fd = safe_path::Fd();
    }
    k->used = ++all.uses;
    const bool open_now = !k->fd.valid() || !k->check.current(k->fd.get(), k->path, now);
    if (opened) *opened = open_now;
    if (open_now) {
        if (!open_kept(*k, dir, path, now)) {
            k->path.clear();
            return false;
        }
    }
    const ssize_t n = ::write(k->fd.get(), text.data(), text.size());
    if (n == static_cast<ssize_t>(text.size())) return true;
    // Opened again at the next line.
    k->fd = safe_path::Fd();
    return false;
}

}  // namespace velarion::spool
