#include "platform/os/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>

#include "platform/os/paths.h"
#include "platform/os/process_id.h"

namespace velarion::atomic_file {

namespace {

// A hidden name beside the target that no other writer uses.
// Seeded once per thread: a temporary name needs only to differ from the
// names of other writers, and seeding per file cost more than the write.
std::mt19937_64& name_engine() {
    thread_local std::mt19937_64 rng(std::random_device{}());
    return rng;
}

std::string temp_name(const std::string& target, std::mt19937_64& rng) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%d.%08llx.part", static_cast<int>(process_id()),
                  static_cast<unsigned long long>(rng() & 0xffffffffULL));
    return paths::folder(target) + "." + paths::file_name(target) + suffix;
}

}  // namespace

Replacement::Replacement(std::string target, bool keep_mode) : dir_fd_(AT_FDCWD), target_(std::move(target)) {
    create(keep_mode);
}

Replacement::Replacement(int dir_fd, std::string name) : dir_fd_(dir_fd), target_(std::move(name)) {
    create(false);
}

void Replacement::create(bool keep_mode) {
    auto& rng = name_engine();
    for (int attempt = 0; attempt < 16 && fd_ < 0; ++attempt) {
        temp_ = temp_name(target_, rng);
        fd_ = ::openat(dir_fd_, temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ < 0) {
        temp_.clear();
        return;
    }
    struct stat st {};
    if (keep_mode && ::fstatat(dir_fd_, target_.c_str(), &st, 0) == 0) ::fchmod(fd_, st.st_mode & 07777);
}

Replacement::~Replacement() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_ && !temp_.empty()) ::unlinkat(dir_fd_, temp_.c_str(), 0);
}

bool Replacement::write(std::string_view bytes) {
    if (!ok()) return false;
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            failed_ = true;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool Replacement::commit(Sync sync) {
    if (!ok()) return false;
    const bool synced = sync == Sync::work_file || ::fsync(fd_) == 0;
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    if (!synced || !closed || ::renameat(dir_fd_, temp_.c_str(), dir_fd_, target_.c_str()) != 0) {
        failed_ = true;
        return false;
    }
    committed_ = true;
    return true;
}

bool write(const std::string& target, std::string_view bytes, Sync sync) {
    Replacement r(target);
    return r.write(bytes) && r.commit(sync);
}

bool write_keeping_mode(const std::string& target, std::string_view bytes) {
    Replacement r(target, true);
    return r.write(bytes) && r.commit();
}

namespace {
bool copy_into(int in, Replacement& r, Sync sync) {
    char buffer[1 << 16];
    bool ok = r.ok();
    while (ok) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        ok = r.write(std::string_view(buffer, static_cast<std::size_t>(n)));
    }
    return ok && r.commit(sync);
}
}  // namespace

bool copy(const std::string& source, const std::string& target, Sync sync) {
    // Opened without waiting: a FIFO would wait for a writer before the check below.
    const int in = ::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (in < 0) return false;
    struct stat st {};
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(in);
        return false;
    }
    // O_NONBLOCK stays: reads of a regular file never wait.
    Replacement r(target);
    const bool ok = copy_into(in, r, sync);
    ::close(in);
    return ok;
}

bool copy_fd(int source_fd, int dir_fd, const std::string& name, Sync sync) {
    Replacement r(dir_fd, name);
    return copy_into(source_fd, r, sync);
}

bool replace_with(int fd, const std::string& target, bool may_link, Sync sync) {
    if (sync == Sync::durable && ::fsync(fd) != 0) return false;
    if (may_link) {
        auto& rng = name_engine();
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        for (int attempt = 0; attempt < 16; ++attempt) {
            const std::string temp = temp_name(target, rng);
            if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                if (::rename(temp.c_str(), target.c_str()) == 0) return true;
                const int saved = errno;
                ::unlink(temp.c_str());
                errno = saved;
                return false;
            }
            if (errno != EEXIST) break;  // another file system: copied below
        }
    }
    Replacement r(target);
    char buffer[1 << 16];
    bool ok = r.ok();
    for (off_t offset = 0; ok;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        offset += n;
        ok = r.write(std::string_view(buffer, static_cast<std::size_t>(n)));
    }
    return ok && r.commit(sync);
}

}  // namespace velarion::atomic_file
