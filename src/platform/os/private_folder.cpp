#include "platform/os/private_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace velarion {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// A listing of an open folder, on a descriptor of its own so that the
// folder's stays where it is.
struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

Dir list(int dir_fd) {
    const int fd = ::openat(dir_fd, ".", kFolderFlags);
    if (fd < 0) return nullptr;
    DIR* d = ::fdopendir(fd);
    if (!d) ::close(fd);
    return Dir(d);
}

bool dot_or_dots(const char* n) { return n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)); }

// Removes `name` of dir_fd; a folder with what it holds, never through a link.
bool remove_at(int dir_fd, const std::string& name, int depth) {
    if (::unlinkat(dir_fd, name.c_str(), 0) == 0 || errno == ENOENT) return true;
    if ((errno != EISDIR && errno != EPERM) || depth > 16) return false;
    const safe_path::Fd sub(::openat(dir_fd, name.c_str(), kFolderFlags));
    if (!sub.valid()) return false;
    if (Dir d = list(sub.get())) {
        std::vector<std::string> names;
        while (const dirent* e = ::readdir(d.get()))
            if (!dot_or_dots(e->d_name)) names.emplace_back(e->d_name);
        for (const auto& n : names) remove_at(sub.get(), n, depth + 1);
    }
    return ::unlinkat(dir_fd, name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT;
}

}  // namespace

PrivateFolder::Opened PrivateFolder::open(int parent_fd, const std::string& name, bool create) {
    Opened out;
    struct stat st {};
    if (::fstatat(parent_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) {
            out.refusal = Refusal::unreadable;
            return out;
        }
        if (!create) return out;
        // Made for this user alone, whatever the umask lets through.
        if (::mkdirat(parent_fd, name.c_str(), 0700) != 0 && errno != EEXIST) {
            out.refusal = Refusal::unreadable;
            return out;
        }
    }
    safe_path::Fd fd(::openat(parent_fd, name.c_str(), kFolderFlags));
    if (!fd.valid()) {
        // A link is refused by O_NOFOLLOW (ELOOP), anything else that is no
        // folder by O_DIRECTORY (ENOTDIR).
        out.refusal = errno == ELOOP ? Refusal::link
                      : errno == ENOTDIR ? (::fstatat(parent_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                                                    S_ISLNK(st.st_mode)
                                                ? Refusal::link
                                                : Refusal::not_folder)
                      : errno == ENOENT ? Refusal::missing
                                        : Refusal::unreadable;
        return out;
    }
    // Judged on what was opened, not on the name, which may change meanwhile.
    if (::fstat(fd.get(), &st) != 0) {
        out.refusal = Refusal::unreadable;
        return out;
    }
    out.owner = st.st_uid;
    out.mode = st.st_mode & 07777;
    if (st.st_uid != ::geteuid()) {
        out.refusal = Refusal::foreign_owner;
        return out;
    }
    if (st.st_mode & (S_IWGRP | S_IWOTH)) {
        out.refusal = Refusal::open_to_others;
        return out;
    }
    out.refusal = Refusal::none;
    out.folder = PrivateFolder(std::move(fd), st.st_dev, st.st_ino);
    return out;
}

PrivateFolder::Opened PrivateFolder::open(const std::string& path, bool create) {
    std::string folder = path;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    const auto slash = folder.rfind('/');
    const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
    const std::string name = slash == std::string::npos ? folder : folder.substr(slash + 1);
    const safe_path::Fd parent_fd(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parent_fd.valid()) {
        Opened out;
        out.refusal = errno == ENOENT ? Refusal::missing : Refusal::unreadable;
        return out;
    }
    return open(parent_fd.get(), name, create);
}

bool PrivateFolder::still_at(int parent_fd, const std::string& name) const {
    struct stat st {};
    return ::fstatat(parent_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_dev == dev_ &&
           st.st_ino == ino_;
}

PrivateFolder::Kind PrivateFolder::kind(const std::string& name) const {
    struct stat st {};
    if (::fstatat(fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return Kind::missing;
    return S_ISREG(st.st_mode) ? Kind::plain : Kind::other;
}

long long PrivateFolder::modified_ns(const std::string& name) const {
    struct stat st {};
    if (::fstatat(fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
}

std::vector<std::string> PrivateFolder::plain_files() const {
    std::vector<std::string> out;
    const Dir d = list(fd());
    if (!d) return out;
    while (const dirent* e = ::readdir(d.get())) {
        if (dot_or_dots(e->d_name)) continue;
        if (e->d_type == DT_REG || (e->d_type == DT_UNKNOWN && kind(e->d_name) == Kind::plain))
            out.emplace_back(e->d_name);
    }
    return out;
}

std::vector<std::string> PrivateFolder::folders() const {
    std::vector<std::string> out;
    const Dir d = list(fd());
    if (!d) return out;
    struct stat st {};
    while (const dirent* e = ::readdir(d.get())) {
        if (dot_or_dots(e->d_name)) continue;
        if (e->d_type == DT_DIR || (e->d_type == DT_UNKNOWN && ::fstatat(fd(), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                                    S_ISDIR(st.st_mode)))
            out.emplace_back(e->d_name);
    }
    return out;
}

safe_path::Fd PrivateFolder::open_plain(const std::string& name) const {
    safe_path::Fd f(::openat(fd(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!f.valid() || ::fstat(f.get(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    return f;
}

std::string PrivateFolder::read(const std::string& name, std::size_t limit) const {
    const safe_path::Fd f = open_plain(name);
    std::string text;
    if (!f.valid()) return text;
    text.resize(limit);
    std::size_t got = 0;
    while (got < limit) {
        const ssize_t n = ::read(f.get(), text.data() + got, limit - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    text.resize(got);
    return text;
}

bool PrivateFolder::write(const std::string& name, std::string_view bytes, atomic_file::Sync sync) const {
    atomic_file::Replacement r(fd(), name);
    return r.write(bytes) && r.commit(sync);
}

bool PrivateFolder::rename(const std::string& from, const std::string& to) const {
    return ::renameat(fd(), from.c_str(), fd(), to.c_str()) == 0;
}

bool PrivateFolder::rename_in(int from_dir, const std::string& from, const std::string& to) const {
    return ::renameat(from_dir, from.c_str(), fd(), to.c_str()) == 0;
}

bool PrivateFolder::rename_out(const std::string& from, int to_dir, const std::string& to) const {
    return ::renameat(fd(), from.c_str(), to_dir, to.c_str()) == 0;
}

bool PrivateFolder::remove(const std::string& name) const { return remove_at(fd(), name, 0); }

bool PrivateFolder::sync() const { return ::fsync(fd()) == 0; }

}  // namespace velarion
