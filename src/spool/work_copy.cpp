#include "spool/work_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace velarion::spool {

namespace {

[[noreturn]] void copy_error(int error, const std::string& from, const std::string& to) {
    throw fs::filesystem_error("copy_file", from, to, std::error_code(error, std::generic_category()));
}

// Opened without following a link and without waiting (a FIFO has no
// writer to wait for); kept only when a regular file.
safe_path::Fd open_regular(int dir, const std::string& name, long long& size, int& error) {
    safe_path::Fd fd(::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) {
        error = errno == ELOOP ? ELOOP : errno == ENOSPC || errno == EMFILE || errno == ENFILE ? errno : ENOENT;
        return fd;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        error = ENOENT;
        return safe_path::Fd();
    }
    size = st.st_size;
    return fd;
}

bool write_all(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// The whole of `in` from its start into `out`, by the kernel where it can
// (the file system may share the blocks); by reads and writes where it
// cannot copy between these files.
bool copy_data(int in, int out) {
    loff_t at = 0;
    for (;;) {
        const ssize_t n = ::copy_file_range(in, &at, out, nullptr, 1 << 30, 0);
        if (n > 0) continue;
        if (n == 0) return true;
        if (errno == EINTR) continue;
        if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP && errno != EPERM)
            return false;
        break;
    }
    std::string buffer(64 * 1024, '\0');
    for (;;) {
        const ssize_t n = ::pread(in, buffer.data(), buffer.size(), at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        if (!write_all(out, buffer.data(), static_cast<std::size_t>(n))) return false;
        at += n;
    }
}

}  // namespace

SpoolSource open_source(const std::string& path, const std::string& to) {
    SpoolSource s;
    int error = 0;
    s.fd = open_regular(AT_FDCWD, path, s.size, error);
    if (!s.fd.valid()) copy_error(error, path, to);
    return s;
}

std::optional<std::string> read_source(const SpoolSource& source, std::size_t limit) {
    if (source.size < 0 || static_cast<unsigned long long>(source.size) > limit) return std::nullopt;
    // One byte more than the size: a read that fills less is at the end.
    std::string bytes(static_cast<std::size_t>(source.size) + 1, '\0');
    std::size_t got = 0;
    for (;;) {
        const ssize_t n = ::pread(source.fd.get(), bytes.data() + got, bytes.size() - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        got += static_cast<std::size_t>(n);
        if (n == 0 || got < bytes.size()) break;
        // Grown since it was looked at: read on, within the limit.
        if (bytes.size() > limit) return std::nullopt;
        bytes.resize(std::min(bytes.size() * 2, limit + 1));
    }
    bytes.resize(got);
    return bytes;
}

WorkCopies::WorkCopies(const std::string& work)
    : work_(work), dir_(::open(work.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}

void WorkCopies::fail(int error, const std::string& name, const std::string& from_path) {
    // A partial copy is no copy: it goes (the message's name in the work folder stays free).
    ::unlinkat(dir_.get(), name.c_str(), 0);
    copy_error(error == ENOSPC || error == EDQUOT ? error : EIO, from_path, work_ + name);
}

safe_path::Fd WorkCopies::create(const std::string& name, const std::string& from_path) {
    // A work folder that could not be opened: said as the copy that needed it.
    if (!dir_.valid()) copy_error(ENOENT, from_path, work_ + name);
    for (int attempt = 0; attempt < 4; ++attempt) {
        safe_path::Fd fd(::openat(dir_.get(), name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (fd.valid()) return fd;
        const int error = errno;
        if (error == EINTR) continue;
        if (error != EEXIST) {
            copy_error(error == ENOSPC || error == EDQUOT ? error : error == ENOENT ? ENOENT : EIO, from_path,
                       work_ + name);
        }
        // An earlier file of that name (a link only loses its name); a folder stays, and is said.
        if (::unlinkat(dir_.get(), name.c_str(), 0) != 0 && errno != ENOENT)
            copy_error(errno == EISDIR || errno == EPERM ? EINVAL : EIO, from_path, work_ + name);
    }
    // Made again each time it went: another writer keeps making it.
    copy_error(EIO, from_path, work_ + name);
}

void WorkCopies::write(const std::string& name, std::string_view bytes, const std::string& from_path) {
    const safe_path::Fd fd = create(name, from_path);
    if (!write_all(fd.get(), bytes.data(), bytes.size())) fail(errno, name, from_path);
}

safe_path::Fd WorkCopies::copy(const std::string& name, const safe_path::Fd& from, const std::string& from_path) {
    safe_path::Fd fd = create(name, from_path);
    if (!copy_data(from.get(), fd.get())) fail(errno, name, from_path);
    return fd;
}

void WorkCopies::copy_within(const std::string& from, const std::string& name) {
    if (!dir_.valid()) copy_error(ENOENT, work_ + from, work_ + name);
    long long size = 0;
    int error = 0;
    const safe_path::Fd in = open_regular(dir_.get(), from, size, error);
    if (!in.valid()) copy_error(error, work_ + from, work_ + name);
    copy(name, in, work_ + from);
}

void WorkCopies::rename(const std::string& from, const std::string& name) {
    if (dir_.valid() && ::renameat(dir_.get(), from.c_str(), dir_.get(), name.c_str()) == 0) return;
    throw fs::filesystem_error("rename", work_ + from, work_ + name,
                               std::error_code(dir_.valid() ? errno : ENOENT, std::generic_category()));
}

}  // namespace velarion::spool
