#include "platform/os/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>

namespace velarion {

namespace {
// The lock file made under a temporary name in dir (AT_FDCWD: path is a
// path), locked, and renamed into place; -1 when it cannot be.
int make_locked(int dir, const std::string& path) {
    std::mt19937 rng(std::random_device{}());
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%d.%08x.new", static_cast<int>(::getpid()), static_cast<unsigned>(rng()));
    const std::string temp = path + suffix;
    const int fd = ::openat(dir, temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::renameat(dir, temp.c_str(), dir, path.c_str()) != 0) {
        ::unlinkat(dir, temp.c_str(), 0);
        ::close(fd);
        return -1;
    }
    return fd;
}
}  // namespace

std::optional<FileLock> FileLock::create(const std::string& path) {
    const int fd = make_locked(AT_FDCWD, path);
    if (fd < 0) return std::nullopt;
    return FileLock(fd, path);
}

std::optional<FileLock> FileLock::create_at(int dir_fd, const std::string& name) {
    const int dir = ::fcntl(dir_fd, F_DUPFD_CLOEXEC, 0);
    if (dir < 0) return std::nullopt;
    const int fd = make_locked(dir, name);
    if (fd < 0) {
        ::close(dir);
        return std::nullopt;
    }
    return FileLock(fd, name, dir);
}

FileLock::FileLock(FileLock&& other) noexcept : fd_(other.fd_), dir_fd_(other.dir_fd_), path_(std::move(other.path_)) {
    other.fd_ = -1;
    other.dir_fd_ = -1;
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        if (dir_fd_ >= 0) ::close(dir_fd_);
        fd_ = other.fd_;
        dir_fd_ = other.dir_fd_;
        path_ = std::move(other.path_);
        other.fd_ = -1;
        other.dir_fd_ = -1;
    }
    return *this;
}

FileLock::~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    if (dir_fd_ >= 0) ::close(dir_fd_);
}

void FileLock::remove() {
    if (fd_ < 0) return;
    if (dir_fd_ >= 0)
        ::unlinkat(dir_fd_, path_.c_str(), 0);
    else
        ::unlink(path_.c_str());
}

bool FileLock::note(std::string_view text) {
    if (fd_ < 0 || ::ftruncate(fd_, 0) != 0) return false;
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::pwrite(fd_, text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string FileLock::read_note(const std::string& path, std::size_t limit) {
    // Opened without waiting and checked: a FIFO planted there must not hang the reader.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return "";
    struct stat st {};
    std::string out;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        out.resize(limit);
        std::size_t got = 0;
        while (got < limit) {
            const ssize_t n = ::pread(fd, out.data() + got, limit - got, static_cast<off_t>(got));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        out.resize(got);
    }
    ::close(fd);
    return out;
}

FileLock::State FileLock::probe(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? State::missing : State::held;  // unreadable: assume its holder lives
    // Only a lock that was taken tells that its holder is gone; a file
    // system that cannot lock at all tells nothing, so the holder is assumed alive.
    const bool taken = ::flock(fd, LOCK_SH | LOCK_NB) == 0;
    ::close(fd);
    return taken ? State::free : State::held;
}

FileLock::State FileLock::probe_at(int dir_fd, const std::string& name) {
    const int fd = ::openat(dir_fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT || errno == ELOOP ? State::missing : State::held;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return State::missing;
    }
    const bool taken = ::flock(fd, LOCK_SH | LOCK_NB) == 0;
    ::close(fd);
    return taken ? State::free : State::held;
}

}  // namespace velarion
