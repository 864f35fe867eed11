// Single instance per user: an exclusive lock (flock) on a file in the
// user's runtime folder, held while the process runs, and the path of the
// local socket on which the running instance listens for "raise" requests.
#pragma once

#include <optional>
#include <string>

namespace velarion {

class InstanceLock {
public:
    // Takes the lock; nullopt when another process holds it. When the lock
    // file cannot be made (a read-only runtime folder), a lock that holds
    // nothing is returned and `trouble` (when given) says why.
    static std::optional<InstanceLock> try_acquire(std::string* trouble = nullptr);

    InstanceLock(InstanceLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    InstanceLock& operator=(InstanceLock&& other) noexcept;
    InstanceLock(const InstanceLock&) = delete;
    ~InstanceLock();

    // $XDG_RUNTIME_DIR, else a private folder /tmp/velarion-<uid>; with trailing "/".
    static std::string runtime_dir();
    // The socket the running instance listens on.
    static std::string socket_path() { return runtime_dir() + "velarion.sock"; }
    // Asks the running instance to raise its window; false when none answers.
    static bool request_raise();

private:
    explicit InstanceLock(int fd) : fd_(fd) {}
    int fd_ = -1;
};

}  // namespace velarion
