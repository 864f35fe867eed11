#include "platform/os/file_moves.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/os/atomic_file.h"

namespace velarion::file_moves {

bool sync_folder(const std::string& dir) {
    const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool move(const std::string& from, const std::string& to, std::string* error) {
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    const int rename_errno = errno;
    // Another file system: a copy, synced, then the original removed.
    if (rename_errno == EXDEV && atomic_file::copy(from, to)) {
        if (::unlink(from.c_str()) == 0 || errno == ENOENT) return true;
        if (error) *error = std::strerror(errno);
        return true;  // the copy is complete; the original is left behind
    }
    if (error) *error = std::strerror(rename_errno == EXDEV ? errno : rename_errno);
    return false;
}

}  // namespace velarion::file_moves
