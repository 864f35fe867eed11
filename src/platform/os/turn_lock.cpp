#include "platform/os/turn_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace velarion {

TurnLock::TurnLock(const std::string& path, const std::function<void()>& waiting) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return;
    // Tried without blocking, so that the window's events go on while
    // another agent has its turn.
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            ::close(fd);
            return;
        }
        if (waiting) waiting();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    fd_ = fd;
}

TurnLock::~TurnLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

}  // namespace velarion
