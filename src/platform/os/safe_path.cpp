#include "platform/os/safe_path.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

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


bool contains(const std::string& root, const std::string& path) {
    if (root == "/") return true;
    return path == root || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                            path[root.size()] == '/');
}

// An open descriptor when it is a regular file (its status in st); invalid
// otherwise. Files are opened non-blocking so that a FIFO planted in their
// place cannot hold the agent; on a regular file the flag changes nothing
// (reads and writes of regular files never wait), so it is left as it is.
Fd regular_only(int fd, struct stat& st) {
    Fd out(fd);
    if (!out.valid()) return out;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return Fd();
    return out;
}

Fd regular_only(int fd) {
    struct stat st {};
    return regular_only(fd, st);
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

// Opens path relative to the open folder dir in one call, the kernel
// refusing any link on the way or at the end (magic links of /proc
// included) and, with `beneath`, any step out of dir. -1 with errno; ENOSYS
// when the kernel cannot do it, so that the caller walks instead.
int open_linkless(int dir, const std::string& path, int flags, bool beneath) {
    if (!kernel_resolves()) {
        errno = ENOSYS;
        return -1;
    }
    open_how how{};
    how.flags = static_cast<std::uint64_t>(flags);
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS | (beneath ? RESOLVE_BENEATH : 0);
    for (int attempt = 0;; ++attempt) {
        const long fd = ::syscall(SYS_openat2, dir, path.c_str(), &how, sizeof how);
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

// Opens rel (folders joined by "/", no "." or "..") below the open folder
// dir, never through a link and never out of dir.
int open_beneath(int dir, const std::string& rel, int flags) { return open_linkless(dir, rel, flags, true); }

bool has_dots(const std::vector<std::string>& parts) {
    for (const auto& part : parts)
        if (part == "." || part == "..") return true;
    return false;
}

// The real location of an existing path written as "/" and its components
// joined; "" when there is nothing there. glibc's realpath reads every
// component as a link (one system call each): a path with no link on its way
// (by far the most common) is its own real location, which the kernel tells
// in one open; a path with links is opened following them and its place read
// back from the descriptor; realpath decides whatever else happens.
std::string real_path(const std::string& path) {
    if (kernel_resolves() && !has_dots(components(path))) {
        const Fd fd(open_linkless(AT_FDCWD, path, O_PATH | O_CLOEXEC, false));
        if (fd.valid()) return path;
        // Missing before any link: realpath would stop at the same component.
        if (errno == ENOENT || errno == ENOTDIR) return "";
        if (errno == ELOOP) {
            const Fd target(::open(path.c_str(), O_PATH | O_CLOEXEC));
            char buf[PATH_MAX];
            const std::string self = "/proc/self/fd/" + std::to_string(target.get());
            const ssize_t n = target.valid() ? ::readlink(self.c_str(), buf, sizeof buf) : -1;
            const std::string_view found(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
            // Only a whole absolute path is taken (not one of a removed file).
            if (n > 0 && static_cast<std::size_t>(n) < sizeof buf && found[0] == '/' &&
                !found.ends_with(" (deleted)"))
                return std::string(found);
        }
    }
    std::unique_ptr<char, decltype(&std::free)> r(::realpath(path.c_str(), nullptr), &std::free);
    return r ? std::string(r.get()) : "";
}

std::string joined(const std::vector<std::string>& parts) {
    std::string out;
    for (const auto& part : parts) out += (out.empty() ? "" : "/") + part;
    return out;
}

// The path made absolute (from the current folder) and written plainly: "/"
// and its components joined, "." and ".." kept. "" when empty or the current
// folder is unknown.
std::string absolute(const std::string& raw) {
    std::string path = paths::native(raw);
    if (path.empty()) return "";
    if (path[0] != '/') {
        char cwd[PATH_MAX];
        if (!::getcwd(cwd, sizeof cwd)) return "";
        path = std::string(cwd) + "/" + path;
    }
    return "/" + joined(components(path));
}

// The real root that holds real (a real location), "" when none: a missing
// root holds nothing.
std::string root_of(const std::string& real, const std::vector<std::string>& roots) {
    if (real.empty()) return "";
    for (const auto& root : roots) {
        const std::string written = absolute(root);
        const std::string rr = written.empty() ? "" : real_path(written);
        if (!rr.empty() && contains(rr, real)) return rr;
    }
    return "";
}

// Opens the folders of parts below the open root: in one call where the
// kernel can, else one by one, never following a link; with create, a
// missing folder is made (by the walk, as openat2 makes no folders).
Walk walk(Fd root, const std::vector<std::string>& parts, bool create) {
    Walk w;
    if (!root.valid() || has_dots(parts)) return w;
    if (parts.empty()) {
        w.status = Status::ok;
        w.dir = std::move(root);
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

// A path that lies below a root by its written components.
struct Written {
    bool found = false;
    std::string path;  // "/" and its components joined
    std::string root;  // the same for the root
    std::string rel;   // the components below the root joined, "" for the root itself
};

// The quick judgement: the first root the path lies below by its written
// components, compared with the root as written, else with the root's real
// location. The opens below then refuse any link, so whatever they open is
// what the judgement by real locations would open; a link on the way sends
// the caller to that judgement. Not found when no root matches, the path
// holds "." or "..", or the kernel cannot open without links. Nothing is
// kept from one call to the next: a root re-pointed, removed or made again
// counts from the next call.
Written written_below(const std::string& path, const std::vector<std::string>& roots) {
    Written w;
    if (!kernel_resolves()) return w;
    const std::string whole = absolute(path);
    const std::vector<std::string> parts = components(whole);
    if (whole.empty() || has_dots(parts)) return w;
    for (const bool real : {false, true}) {
        for (const auto& root : roots) {
            const std::string written = absolute(root);
            if (written.empty()) continue;
            std::vector<std::string> root_parts = components(written);
            if (real) {
                const std::string found = real_path(written);
                if (found.empty() || found == written) continue;  // tried as written already
                root_parts = components(found);
            } else if (has_dots(root_parts)) {
                continue;
            }
            if (root_parts.size() > parts.size() || !std::equal(root_parts.begin(), root_parts.end(), parts.begin()))
                continue;
            w.found = true;
            w.path = whole;
            w.root = "/" + joined(root_parts);
            const auto rest = parts.begin() + static_cast<std::ptrdiff_t>(root_parts.size());
            w.rel = joined(std::vector<std::string>(rest, parts.end()));
            return w;
        }
    }
    return w;
}

// Opens a path found by written_below: in one call when no link lies
// anywhere on its way; else (a link in the root's own path, or something
// missing, the root perhaps) the root is opened as configured, following
// its links, and the rest below it without any. -1 with errno, ENOENT only
// when the root is there and the rest is missing.
int open_written(const Written& w, int flags) {
    const int fd = open_linkless(AT_FDCWD, w.path, flags, false);
    if (fd >= 0) return fd;
    const Fd root = open_root(w.root);
    if (!root.valid()) {
        errno = EACCES;  // judged by real locations
        return -1;
    }
    if (w.rel.empty()) return ::fcntl(root.get(), F_DUPFD_CLOEXEC, 0);
    return open_beneath(root.get(), w.rel, flags);
}

// A file opened for reading, kept when it is a regular file with a single
// name: a hard link may be a file outside the roots under another name.
Opened checked(int fd) {
    Opened out;
    struct stat st {};
    out.fd = regular_only(fd, st);
    if (out.fd.valid() && st.st_nlink > 1) out.fd = Fd();
    out.status = out.fd.valid() ? Status::ok : Status::refused;
    return out;
}

constexpr int kReadFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

}  // namespace

std::string real_location(const std::string& raw) {
    const std::string path = absolute(raw);
    if (path.empty()) return "";
    std::vector<std::string> parts = components(path);
    std::vector<std::string> missing;  // the components past the existing part, last first
    for (;;) {
        const std::string real = real_path("/" + joined(parts));
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
    if (const Written w = written_below(path, roots); w.found) {
        // Found with no link on the way, or missing before any: the real
        // location lies below the root.
        const Fd found(open_written(w, O_PATH | O_CLOEXEC));
        if (found.valid() || errno == ENOENT) return true;
    }
    return !root_of(real_location(path), roots).empty();
}

bool readable_below(const std::string& path, const std::vector<std::string>& roots) {
    if (!is_below(path, roots)) return false;
    struct stat st {};
    return ::stat(paths::native(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink <= 1;
}

Fd open_nofollow(const std::string& path) {
    return regular_only(::open(paths::native(path).c_str(), kReadFlags));
}

bool is_link(const std::string& path) {
    struct stat st {};
    return ::lstat(paths::native(path).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

Opened open_below(const std::string& path, const std::vector<std::string>& roots) {
    Opened out;
    if (const Written w = written_below(path, roots); w.found) {
        if (w.rel.empty()) return out;  // the root itself is a folder
        const int fd = open_written(w, kReadFlags);
        if (fd >= 0) return checked(fd);
        if (errno == ENOENT) {
            out.status = Status::missing;
            return out;
        }
    }
    const std::string real = real_location(path);
    const std::string root = root_of(real, roots);
    if (root.empty()) return out;
    std::vector<std::string> parts = below(root, real);
    if (parts.empty() || has_dots(parts)) return out;  // the root itself is a folder
    Fd root_fd = open_root(root);
    if (!root_fd.valid()) return out;
    int fd = open_beneath(root_fd.get(), joined(parts), kReadFlags);
    if (fd < 0 && errno == ENOSYS) {
        const std::string name = parts.back();
        parts.pop_back();
        Walk w = walk(std::move(root_fd), parts, false);
        if (w.status != Status::ok) {
            out.status = w.status;
            return out;
        }
        fd = ::openat(w.dir.get(), name.c_str(), kReadFlags);
    }
    if (fd < 0) {
        out.status = errno == ENOENT ? Status::missing : Status::refused;
        return out;
    }
    return checked(fd);
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
    if (const Written w = written_below(folder, roots); w.found) {
        Fd found(open_linkless(AT_FDCWD, w.path, O_RDONLY | O_DIRECTORY | O_CLOEXEC, false));
        if (found.valid()) return found;
        Walk made = walk(open_root(w.root), components(w.rel), create);
        if (made.status == Status::ok) return std::move(made.dir);
        if (made.status == Status::missing) return Fd();
    }
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
    struct stat st {};
    const Fd fd = regular_only(::openat(dir.get(), name.c_str(),
                                        O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666),
                               st);
    if (!fd.valid()) return false;
    const off_t before = st.st_size;
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
