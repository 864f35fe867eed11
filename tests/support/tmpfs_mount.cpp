#include "support/tmpfs_mount.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

namespace velarion::testing {

SmallTmpfs::SmallTmpfs(std::size_t bytes) {
    if (::geteuid() != 0) {
        skip_reason_ = "mounting a small tmpfs needs root";
        return;
    }
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0777";
    if (::mount("tmpfs", dir_.path().c_str(), "tmpfs", 0, options.c_str()) != 0) {
        skip_reason_ = "cannot mount a tmpfs here: " + std::string(std::strerror(errno));
        return;
    }
    mounted_ = true;
}

SmallTmpfs::~SmallTmpfs() {
    if (mounted_) ::umount2(dir_.path().c_str(), MNT_DETACH);
}

std::size_t SmallTmpfs::available() const {
    struct statvfs st {};
    if (::statvfs(dir_.path().c_str(), &st) != 0) return 0;
    return static_cast<std::size_t>(st.f_bavail) * st.f_frsize;
}

void SmallTmpfs::fill(std::size_t left) const {
    const std::string file = path() + "riempimento";
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    const std::vector<char> block(4096, 'r');
    for (;;) {
        const std::size_t free = available();
        if (free <= left) break;
        const std::size_t n = std::min(block.size(), free - left);
        if (::write(fd, block.data(), n) <= 0) break;
    }
    ::close(fd);
}

void SmallTmpfs::free_space() const {
    std::error_code ec;
    std::filesystem::remove(path() + "riempimento", ec);
}

}  // namespace velarion::testing
