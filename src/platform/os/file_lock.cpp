#include "platform/os/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>

namespace velarion {

std::optional<FileLock> FileLock::create(const std::string& path) {
    std::mt19937 rng(std::random_device{}());
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%d.%08x.new", static_cast<int>(::getpid()), static_cast<unsigned>(rng()));
    const std::string temp = path + suffix;
    const int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return std::nullopt;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        ::close(fd);
        return std::nullopt;
    }
    return FileLock(fd, path);
}

FileLock::FileLock(FileLock&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) { other.fd_ = -1; }

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.fd_;
        path_ = std::move(other.path_);
        other.fd_ = -1;
    }
    return *this;
}

FileLock::~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

void FileLock::remove() {
    if (fd_ >= 0) ::unlink(path_.c_str());
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

}  // namespace velarion
