// Turns between agents that share a folder: work whose files have fixed
// names there (the merge intermediates, the protection result) is done by
// one agent at a time, each holding an exclusive lock (flock) on one file
// of the folder while it works. The file is made once and never removed, so
// every agent locks the same file; the kernel drops a holder's lock when it
// ends, a crash included. Across machines this needs the file system's lock
// service, as FileLock does (file_lock.h).
#pragma once

#include <functional>
#include <string>

namespace velarion {

class TurnLock {
public:
    // Waits for the lock of `path` (the file is made when missing), calling
    // `waiting` between tries, which are 20 ms apart. When the file cannot be
    // made or locked (a folder that cannot be written, a file system without
    // locks) no lock is held: the work then meets the same folder on its own.
    TurnLock(const std::string& path, const std::function<void()>& waiting);
    ~TurnLock();  // releases the lock
    TurnLock(const TurnLock&) = delete;
    TurnLock& operator=(const TurnLock&) = delete;

    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace velarion
