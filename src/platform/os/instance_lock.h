// Single instance: an exclusive lock (flock) on a lock file, held while the
// process runs, and the local socket in the user's runtime folder on which
// the running instance listens for "raise" requests.
#pragma once

#include <optional>
#include <string>

namespace velarion {

class InstanceLock {
public:
    // Takes the lock of the file `path` (made, and its folders too, when
    // missing); nullopt when another process holds it. When the file cannot
    // be made or opened, a lock that holds nothing is returned and `trouble`
    // (when given) says "<path>: <reason>".
    static std::optional<InstanceLock> try_acquire(const std::string& path, std::string* trouble = nullptr);

    InstanceLock(InstanceLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    InstanceLock& operator=(InstanceLock&& other) noexcept;
    InstanceLock(const InstanceLock&) = delete;
    ~InstanceLock();

    // True when the lock is held (false for the lock that holds nothing).
    bool held() const { return fd_ >= 0; }

    // $XDG_RUNTIME_DIR, else a private folder /tmp/velarion-<uid>; with trailing "/".
    static std::string runtime_dir();
    // The socket the running instance named `name` listens on.
    static std::string socket_path(const std::string& name) { return runtime_dir() + "velarion_" + name + ".sock"; }
    // Asks the running instance named `name` to raise its window; false when none answers.
    static bool request_raise(const std::string& name);

private:
    explicit InstanceLock(int fd) : fd_(fd) {}
    int fd_ = -1;
};

}  // namespace velarion
