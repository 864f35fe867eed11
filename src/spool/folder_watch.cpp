#include "spool/folder_watch.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/statfs.h>

#include <utility>

namespace velarion::spool {

namespace {
long long nanoseconds(time_t s, long ns) { return static_cast<long long>(s) * 1'000'000'000LL + ns; }
}  // namespace

FolderLook FolderLook::at(const std::string& path) {
    FolderLook look;
    // The system time before the look: a change after the look is stamped no earlier.
    ::clock_gettime(CLOCK_REALTIME, &look.real);
    look.folder = ::stat(path.c_str(), &look.st) == 0 && S_ISDIR(look.st.st_mode);
    return look;
}

bool FolderWatch::quiet(const FolderLook& look, const std::string& path, long long now_ms) {
    if (!look.folder) {
        forget();
        return false;
    }
    return judge(look.st, look.real, dependable(look.st, path, -1), now_ms);
}

bool FolderWatch::quiet(int fd, long long now_ms) {
    timespec real{};
    ::clock_gettime(CLOCK_REALTIME, &real);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode)) {
        forget();
        return false;
    }
    return judge(st, real, dependable(st, "", fd), now_ms);
}

bool FolderWatch::judge(const struct stat& st, const timespec& real, bool dependable, long long now_ms) {
    const Status s{st.st_dev, st.st_ino, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
    // A time in the future (the clock stepped back) is no older than the clock either.
    const bool settled = nanoseconds(real.tv_sec, real.tv_nsec) - nanoseconds(s.mtime_s, s.mtime_ns) >= kSettledNs;
    return judge_status(s, dependable && settled, now_ms);
}

bool FolderWatch::judge_status(const Status& s, bool trusted, long long now_ms) {
    if (known_ && *known_ == s && now_ms < relist_at_ms_) return true;
    if (trusted)
        pending_ = s;
    else
        pending_.reset();
    return false;
}

void FolderWatch::listed(long long now_ms) {
    known_ = pending_;
    pending_.reset();
    relist_at_ms_ = now_ms + relist_ms_;
}

void FolderWatch::forget() {
    known_.reset();
    pending_.reset();
}

bool FolderWatch::dependable(const struct stat& st, const std::string& path, int fd) {
    // Looked up again for another folder: a device number may be reused by another mount.
    if (typed_ && typed_->first == st.st_dev && typed_->second == st.st_ino) return typed_dependable_;
    struct statfs fs {};
    const int r = fd >= 0 ? ::fstatfs(fd, &fs) : ::statfs(path.c_str(), &fs);
    if (r != 0) return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
        case EXT4_SUPER_MAGIC:  // ext2 and ext3 too
        case XFS_SUPER_MAGIC:
        case BTRFS_SUPER_MAGIC:
        case TMPFS_MAGIC:
            typed_dependable_ = true;
            break;
        default:
            typed_dependable_ = false;
    }
    typed_ = std::make_pair(st.st_dev, st.st_ino);
    return typed_dependable_;
}

}  // namespace velarion::spool
