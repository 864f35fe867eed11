// Whether a folder may have changed since it was last listed whole, told by
// one look at its status, so that an idle agent does not list its folders at
// every tick. Making, removing or renaming an entry sets a folder's
// modification time to the time of that moment, so a folder that is still
// the same one (device and inode) with the same modification time holds the
// same entries, with three exceptions the watch allows for:
//   - an entry made in the same tick of the file system's clock as the look
//     leaves the time as it was: a look whose modification time is less than
//     two seconds old by the system clock is never trusted;
//   - a network or user-space file system may show an old copy of a folder's
//     status, or keep its times itself: a look is only trusted on a local
//     file system whose times the kernel keeps (ext4, XFS, Btrfs, tmpfs);
//   - anything else (a time set back by hand, a clock stepped back): the
//     folder is listed anyway once the safety period has passed since its
//     last listing, by the monotonic clock.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <ctime>
#include <optional>
#include <string>
#include <utility>

namespace velarion::spool {

// One look at a folder by its path, links followed (as a listing follows
// them): its status, and the system time just before it.
struct FolderLook {
    bool folder = false;  // a folder is there
    struct stat st {};
    timespec real{};
    static FolderLook at(const std::string& path);
};

class FolderWatch {
public:
    // relist_ms: the safety period, the longest a change can go unseen.
    explicit FolderWatch(long long relist_ms) : relist_ms_(relist_ms) {}

    // Judges a look at the folder at `path`, or looks at the open folder
    // `fd`; now_ms by the monotonic clock. True when its listing may be
    // skipped: the folder is unchanged since its last whole listing. False
    // when it is to be listed (or cannot be looked at); listed() is then
    // called once it has been, whole.
    bool quiet(const FolderLook& look, const std::string& path, long long now_ms);
    bool quiet(int fd, long long now_ms);

    // The folder has been listed whole since the last look that was not
    // quiet: later looks are compared with that one.
    void listed(long long now_ms);
    // Nothing is known of the folder: the next look asks for a listing.
    void forget();

    // The judgement of a look made at the system time `real`, for tests: the
    // status `st` of a folder on a file system whose times are dependable or not.
    bool judge(const struct stat& st, const timespec& real, bool dependable, long long now_ms);

    // Two seconds: a modification time at least that old by the system
    // clock cannot be shared by a change made after the look.
    static constexpr long long kSettledNs = 2'000'000'000LL;

private:
    struct Status {
        dev_t dev = 0;
        ino_t ino = 0;
        time_t mtime_s = 0;
        long mtime_ns = 0;
        bool operator==(const Status&) const = default;
    };
    bool judge_status(const Status& s, bool trusted, long long now_ms);
    // True for a file system whose folder times the kernel keeps; looked up once per folder.
    bool dependable(const struct stat& st, const std::string& path, int fd);

    long long relist_ms_;
    std::optional<Status> known_;    // the look before the last whole listing, when it can be trusted
    long long relist_at_ms_ = 0;     // when the folder is listed whatever its status
    std::optional<Status> pending_;  // the last look that asked for a listing, when it can be trusted
    std::optional<std::pair<dev_t, ino_t>> typed_;  // the folder whose file system type was looked up
    bool typed_dependable_ = false;
};

}  // namespace velarion::spool
