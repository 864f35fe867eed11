#include "platform/os/isolated_call.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <exception>

namespace velarion::isolated_call {

namespace {

constexpr std::size_t kMaxAnswer = 1 << 20;

// Address-sanitizer builds reserve terabytes of shadow memory: a limit on
// the address space would stop the child before it starts.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kLimitAddressSpace = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kLimitAddressSpace = false;
#else
constexpr bool kLimitAddressSpace = true;
#endif
#else
constexpr bool kLimitAddressSpace = true;
#endif

// The child's side: limits, the work, and an exit that runs no destructor
// and flushes no buffer inherited from the caller.
[[noreturn]] void child(const std::function<bool(int)>& work, const Limits& limits, int answer_fd) {
    const rlimit no_core{0, 0};
    ::setrlimit(RLIMIT_CORE, &no_core);  // a crash leaves no core file in the work folder
    if (kLimitAddressSpace && limits.address_space > 0) {
        const rlimit as{limits.address_space, limits.address_space};
        ::setrlimit(RLIMIT_AS, &as);
    }
    bool ok = false;
    try {
        ok = work(answer_fd);
    } catch (...) {
        ok = false;
    }
    ::close(answer_fd);
    ::_exit(ok ? 0 : 1);
}

}  // namespace

bool write_all(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

Result run(const std::function<bool(int)>& work, const Limits& limits) {
    Result result;
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return result;
    // Buffered output of the caller is written once, not once more by the child.
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(pipe_fds[0]);
        ::close(pipe_fds[1]);
        return result;
    }
    if (pid == 0) {
        ::close(pipe_fds[0]);
        child(work, limits, pipe_fds[1]);
    }
    ::close(pipe_fds[1]);
    // The answer is read while the child runs, so a full pipe never stops it;
    // beyond the bound it is read and dropped.
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(pipe_fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (result.answer.size() < kMaxAnswer)
            result.answer.append(buffer, std::min<std::size_t>(static_cast<std::size_t>(n), kMaxAnswer - result.answer.size()));
    }
    ::close(pipe_fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return result;
    result.crashed = WIFSIGNALED(status);
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return result;
}

}  // namespace velarion::isolated_call
