#include "platform/os/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace velarion {

std::string InstanceLock::runtime_dir() {
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    if (xdg && *xdg) {
        std::string d = xdg;
        return d.back() == '/' ? d : d + "/";
    }
    std::string d = "/tmp/velarion-" + std::to_string(getuid());
    mkdir(d.c_str(), 0700);
    return d + "/";
}

std::optional<InstanceLock> InstanceLock::try_acquire(const std::string& path, std::string* trouble) {
    // The folders of the lock, as the run log makes the work folder when missing.
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    // Never through a link planted in a shared folder; its mode is the
    // installation's (the umask), as every other file of the work folder.
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    // Without a lock file there is no way to tell: the caller decides.
    if (fd < 0) {
        if (trouble) *trouble = path + ": " + std::strerror(errno);
        return InstanceLock(-1);
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return std::nullopt;
    }
    return InstanceLock(fd);
}

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) close(fd_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) close(fd_);  // closing releases the lock
}

bool InstanceLock::request_raise(const std::string& name) {
    const std::string path = socket_path(name);
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path) return false;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
              write(fd, "raise\n", 6) == 6;
    close(fd);
    return ok;
}

}  // namespace velarion
