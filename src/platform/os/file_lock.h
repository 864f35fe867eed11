// Liveness locks: a process holds an exclusive lock (flock) on a file of its
// own for as long as it runs; any other process, on this machine or on one
// that shares the folder, tells by trying the lock whether the holder is
// still there. The kernel drops the lock when the holder ends, whatever the
// way it ends (a crash or kill -9 included). Across machines this needs a
// file system that passes the lock to its server: NFS with its lock service
// (NFSv4, or NFSv3 with lockd), SMB mounted with byte-range locks.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velarion {

class FileLock {
public:
    // Creates `path` already locked: the file is made under a temporary name
    // beside it, locked, and only then renamed into place, so that nobody
    // ever finds it without its lock. nullopt when it cannot be made.
    static std::optional<FileLock> create(const std::string& path);
    // The same for the file `name` of the open folder dir_fd, relative to it.
    static std::optional<FileLock> create_at(int dir_fd, const std::string& name);

    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock();  // releases the lock; the file stays unless remove() was called

    const std::string& path() const { return path_; }
    // Removes the file; the lock is held until the object goes.
    void remove();

    // Replaces what the file says (a few lines for whoever looks at the
    // holder): written in place, so that the lock stays. False when not written.
    bool note(std::string_view text);
    // What the lock file at `path` says, at most `limit` bytes; "" when it
    // cannot be read or is no plain file.
    static std::string read_note(const std::string& path, std::size_t limit = 4096);

    // What a try of a lock file finds: a holder, a free lock (its holder has
    // ended), or no file at all.
    enum class State { held, free, missing };
    // Tries the lock of `path` without waiting and lets it go at once.
    static State probe(const std::string& path);
    // The same for the file `name` of the open folder dir_fd. Opened without
    // waiting: anything but a plain file (a FIFO planted there) holds no lock
    // and reads as missing.
    static State probe_at(int dir_fd, const std::string& name);

private:
    FileLock(int fd, std::string path, int dir_fd = -1) : fd_(fd), dir_fd_(dir_fd), path_(std::move(path)) {}
    int fd_ = -1;
    int dir_fd_ = -1;  // with create_at: a descriptor of its folder, path_ then the name in it
    std::string path_;
};

}  // namespace velarion
