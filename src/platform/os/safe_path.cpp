#include "platform/os/safe_path.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "platform/os/atomic_file.h"
#include "platform/os/paths.h"

namespace velarion::safe_path {

Fd::~Fd() {
    if (fd_ >= 0) ::close(fd_);
}

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

namespace {

std::vector<std::string> components(const std::string& path) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : path) {
        if (c == '/') {
            if (!cur.empty()) out.push_back(std::move(cur));
            cur.clear();
        } else {
            cur.push_back(c);
        }
    }
    if (!cur.empty()) out.push_back(std::move(cur));
    return out;
}

std::string real_path(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> r(::realpath(path.c_str(), nullptr), &std::free);
    return r ? std::string(r.get()) : "";
}

bool contains(const std::string& root, const std::string& path) {
    if (root == "/") return true;
    return path == root || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                            path[root.size()] == '/');
}

// The real root that holds real (a real location), "" when none.
std::string root_of(const std::string& real, const std::vector<std::string>& roots) {
    if (real.empty()) return "";
    for (const auto& root : roots) {
        const std::string native = paths::native(root);
        if (native.empty()) continue;
        const std::string rr = real_path(native);
        if (!rr.empty() && contains(rr, real)) return rr;
    }
    return "";
}

// An open descriptor made readable in blocking mode again, when it is a
// regular file; invalid otherwise. (Files are opened non-blocking so that a
// FIFO planted in their place cannot hold the agent.)
Fd regular_only(int fd) {
    Fd out(fd);
    if (!out.valid()) return out;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return Fd();
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return out;
}

struct Walk {
    Status status = Status::refused;
    Fd dir;  // the folder reached
};

// Whether the kernel is asked first: off where it lacks openat2, and when
// VELARION_NO_OPENAT2 is set (the tests run the walk below that way too).
std::atomic<bool>& kernel_resolves() {
    static std::atomic<bool> on{std::getenv("VELARION_NO_OPENAT2") == nullptr};
    return on;
}

// Opens rel (folders joined by "/", no "." or "..") below the open folder
// dir in one call, the kernel refusing any link on the way or at the end,
// magic links of /proc included, and any step out of dir. -1 with errno;
// ENOSYS when the kernel cannot do it, so that the caller walks instead.
int open_beneath(int dir, const std::string& rel, int flags) {
    if (!kernel_resolves()) {
        errno = ENOSYS;
        return -1;
    }
    open_how how{};
    how.flags = static_cast<std::uint64_t>(flags);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    for (int attempt = 0;; ++attempt) {
        const long fd = ::syscall(SYS_openat2, dir, rel.c_str(), &how, sizeof how);
        if (fd >= 0) return static_cast<int>(fd);
        // EAGAIN: a rename elsewhere in the file system raced the lookup.
        if (errno == EINTR || (errno == EAGAIN && attempt < 3)) continue;
        // No openat2 (ENOSYS), flags it does not know (EINVAL), a filter
        // that forbids it (EPERM) or races that go on: the walk decides.
        if (errno == ENOSYS || errno == EINVAL || errno == EPERM || errno == E2BIG || errno == EAGAIN) {
            if (errno == ENOSYS) kernel_resolves() = false;
            errno = ENOSYS;
        }
        return -1;
    }
}

std::string joined(const std::vector<std::string>& parts) {
    std::string out;
    for (const auto& part : parts) out += (out.empty() ? "" : "/") + part;
    return out;
}

bool has_dots(const std::vector<std::string>& parts) {
    for (const auto& part : parts)
        if (part == "." || part == "..") return true;
    return false;
}

// Opens the folders of parts below the open root: in one call where the
// kernel can, else one by one, never following a link; with create, a
// missing folder is made (by the walk, as openat2 makes no folders).
Walk walk(const Fd& root, const std::vector<std::string>& parts, bool create) {
    Walk w;
    if (!root.valid() || has_dots(parts)) return w;
    if (parts.empty()) {
        w.dir = Fd(::fcntl(root.get(), F_DUPFD_CLOEXEC, 0));
        w.status = w.dir.valid() ? Status::ok : Status::refused;
        return w;
    }
    const int fd = open_beneath(root.get(), joined(parts), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        w.status = Status::ok;
        w.dir = Fd(fd);
        return w;
    }
    if (errno != ENOSYS && !(errno == ENOENT && create)) {
        if (errno == ENOENT) w.status = Status::missing;
        return w;
    }
    int at = root.get();
    Fd dir;
    for (const auto& part : parts) {
        int next = ::openat(at, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT && create) {
            if (::mkdirat(at, part.c_str(), 0777) != 0 && errno != EEXIST) return w;
            next = ::openat(at, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (next < 0) {
            if (errno == ENOENT) w.status = Status::missing;
            return w;
        }
        dir = Fd(next);
        at = dir.get();
    }
    w.status = Status::ok;
    w.dir = std::move(dir);
    return w;
}

Fd open_root(const std::string& root) {
    return Fd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// The parts of real below root.
std::vector<std::string> below(const std::string& root, const std::string& real) {
    return components(root == "/" ? real : real.substr(root.size()));
}

// The folder of target and its last name, the name being a file name.
bool split_target(const std::string& target, std::string& folder, std::string& name) {
    const std::string native = paths::native(target);
    name = paths::file_name(native);
    folder = paths::folder(native);
    return !name.empty() && name != "." && name != ".." && !folder.empty();
}

}  // namespace

std::string real_location(const std::string& raw) {
    std::string path = paths::native(raw);
    if (path.empty()) return "";
    if (path[0] != '/') {
        char cwd[PATH_MAX];
        if (!::getcwd(cwd, sizeof cwd)) return "";
        path = std::string(cwd) + "/" + path;
    }
    std::vector<std::string> parts = components(path);
    std::vector<std::string> missing;  // the components past the existing part, last first
    for (;;) {
        std::string prefix = "/";
        for (std::size_t i = 0; i < parts.size(); ++i) prefix += (i ? "/" : "") + parts[i];
        const std::string real = real_path(prefix);
        if (!real.empty()) {
            std::string out = real;
            for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
                if (*it == "." || *it == "..") return "";
                out += (out == "/" ? "" : "/") + *it;
            }
            return out;
        }
        if (parts.empty()) return "";
        missing.push_back(parts.back());
        parts.pop_back();
    }
}

bool is_below(const std::string& path, const std::vector<std::string>& roots) {
    return !root_of(real_location(path), roots).empty();
}

bool readable_below(const std::string& path, const std::vector<std::string>& roots) {
    if (!is_below(path, roots)) return false;
    struct stat st {};
    return ::stat(paths::native(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink <= 1;
}

Fd open_nofollow(const std::string& path) {
    return regular_only(::open(paths::native(path).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
}

bool is_link(const std::string& path) {
    struct stat st {};
    return ::lstat(paths::native(path).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

Opened open_below(const std::string& path, const std::vector<std::string>& roots) {
    Opened out;
    const std::string real = real_location(path);
    const std::string root = root_of(real, roots);
    if (root.empty()) return out;
    std::vector<std::string> parts = below(root, real);
    if (parts.empty() || has_dots(parts)) return out;  // the root itself is a folder
    const Fd root_fd = open_root(root);
    if (!root_fd.valid()) return out;
    constexpr int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd = open_beneath(root_fd.get(), joined(parts), flags);
    if (fd < 0 && errno == ENOSYS) {
        const std::string name = parts.back();
        parts.pop_back();
        Walk w = walk(root_fd, parts, false);
        if (w.status != Status::ok) {
            out.status = w.status;
            return out;
        }
        fd = ::openat(w.dir.get(), name.c_str(), flags);
    }
    if (fd < 0) {
        out.status = errno == ENOENT ? Status::missing : Status::refused;
        return out;
    }
    out.fd = regular_only(fd);
    // A hard link may be a file outside the roots under another name.
    struct stat st {};
    if (out.fd.valid() && (::fstat(out.fd.get(), &st) != 0 || st.st_nlink > 1)) out.fd = Fd();
    out.status = out.fd.valid() ? Status::ok : Status::refused;
    return out;
}

std::optional<std::string> read_whole(const Fd& fd) {
    if (!fd.valid()) return std::nullopt;
    std::string out;
    char buffer[1 << 16];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd.get(), buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) return out;
        out.append(buffer, static_cast<std::size_t>(n));
        at += n;
    }
}

FdReader::int_type FdReader::underflow() {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    for (;;) {
        const ssize_t n = fd_ < 0 ? 0 : ::read(fd_, buffer_.data(), buffer_.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) failed_ = true;
        if (n <= 0) return traits_type::eof();
        setg(buffer_.data(), buffer_.data(), buffer_.data() + n);
        return traits_type::to_int_type(*gptr());
    }
}

Fd open_folder_below(const std::string& folder, const std::vector<std::string>& roots, bool create) {
    const std::string real = real_location(folder);
    const std::string root = root_of(real, roots);
    if (root.empty()) return Fd();
    return std::move(walk(open_root(root), below(root, real), create).dir);
}

bool write_below(const std::string& target, std::string_view bytes, const std::vector<std::string>& roots,
                 bool create) {
    std::string folder, name;
    if (!split_target(target, folder, name)) return false;
    const Fd dir = open_folder_below(folder, roots, create);
    if (!dir.valid()) return false;
    atomic_file::Replacement r(dir.get(), name);
    return r.write(bytes) && r.commit();
}

bool copy_below(const std::string& source, const std::string& target, const std::vector<std::string>& roots,
                bool create, atomic_file::Sync sync) {
    std::string folder, name;
    if (!split_target(target, folder, name)) return false;
    const Fd in = open_nofollow(source);
    if (!in.valid()) return false;
    const Fd dir = open_folder_below(folder, roots, create);
    if (!dir.valid()) return false;
    return atomic_file::copy_fd(in.get(), dir.get(), name, sync);
}

bool append_below(const std::string& target, std::string_view bytes, const std::vector<std::string>& roots) {
    std::string folder, name;
    if (!split_target(target, folder, name)) return false;
    const Fd dir = open_folder_below(folder, roots, false);
    if (!dir.valid()) return false;
    const Fd fd = regular_only(::openat(dir.get(), name.c_str(),
                                        O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666));
    if (!fd.valid()) return false;
    struct stat st {};
    const off_t before = ::fstat(fd.get(), &st) == 0 ? st.st_size : 0;
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd.get(), bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (::ftruncate(fd.get(), before) != 0) return false;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace velarion::safe_path
