#include "platform/os/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <string_view>
#include <cerrno>

extern char** environ;

namespace velarion::process {

namespace {
// Spawn attributes that give the child the default action of SIGPIPE, which
// the agent itself ignores: a program it runs should stop as usual when the
// reader of its output goes away.
struct DefaultSignals {
    posix_spawnattr_t attr;
    DefaultSignals() {
        posix_spawnattr_init(&attr);
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGPIPE);
        posix_spawnattr_setsigdefault(&attr, &set);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    }
    ~DefaultSignals() { posix_spawnattr_destroy(&attr); }
    DefaultSignals(const DefaultSignals&) = delete;
    DefaultSignals& operator=(const DefaultSignals&) = delete;
};
}  // namespace

int start(const std::vector<std::string>& argv) { return start(argv, {}); }

int start(const std::vector<std::string>& argv, const std::vector<std::string>& extra) {
    if (argv.empty() || argv[0].empty()) return -1;
    std::vector<char*> env;
    for (const auto& e : extra) env.push_back(const_cast<char*>(e.c_str()));
    for (char** e = environ; e && *e; ++e) {
        const std::string_view entry(*e);
        bool replaced = false;
        for (const auto& x : extra) {
            const auto eq = x.find('=');
            if (eq != std::string::npos && entry.substr(0, eq + 1) == std::string_view(x).substr(0, eq + 1))
                replaced = true;
        }
        if (!replaced) env.push_back(*e);
    }
    env.push_back(nullptr);
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    pid_t pid = 0;
    DefaultSignals sa;
    int rc = argv[0].find('/') == std::string::npos
                 ? posix_spawnp(&pid, args[0], nullptr, &sa.attr, args.data(), env.data())
                 : posix_spawn(&pid, args[0], nullptr, &sa.attr, args.data(), env.data());
    return rc == 0 ? static_cast<int>(pid) : -1;
}

int wait_for(int pid) {
    if (pid <= 0) return -1;
    int status = 0;
    while (waitpid(static_cast<pid_t>(pid), &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (WIFEXITED(status)) {
        // posix_spawn reports a program that cannot be executed as exit code 127.
        return WEXITSTATUS(status);
    }
    return -1;
}

int run_and_wait(const std::vector<std::string>& argv) { return wait_for(start(argv)); }

std::optional<int> poll(int pid) {
    if (pid <= 0) return -1;
    int status = 0;
    pid_t got;
    while ((got = waitpid(static_cast<pid_t>(pid), &status, WNOHANG)) < 0) {
        if (errno != EINTR) return -1;
    }
    if (got == 0) return std::nullopt;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

namespace {
// Closes a file descriptor when it goes out of scope.
struct FdCloser {
    int fd = -1;
    ~FdCloser() {
        if (fd >= 0) close(fd);
    }
};
// Frees the spawn file actions when they go out of scope.
struct ActionsGuard {
    posix_spawn_file_actions_t actions;
    ActionsGuard() { posix_spawn_file_actions_init(&actions); }
    ~ActionsGuard() { posix_spawn_file_actions_destroy(&actions); }
};
}  // namespace

std::optional<std::string> run_capture(const std::vector<std::string>& argv) {
    if (argv.empty() || argv[0].empty()) return std::nullopt;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
    FdCloser read_end{fds[0]}, write_end{fds[1]};

    ActionsGuard fa;
    posix_spawn_file_actions_adddup2(&fa.actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&fa.actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);

    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    DefaultSignals sa;
    int rc = argv[0].find('/') == std::string::npos
                 ? posix_spawnp(&pid, args[0], &fa.actions, &sa.attr, args.data(), environ)
                 : posix_spawn(&pid, args[0], &fa.actions, &sa.attr, args.data(), environ);
    close(write_end.fd);
    write_end.fd = -1;
    if (rc != 0) return std::nullopt;

    std::string out;
    char buf[4096];
    for (;;) {
        ssize_t n = read(read_end.fd, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return std::nullopt;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    return out;
}

int run_and_wait(const std::vector<std::string>& argv, const std::function<void()>& started) {
    const int pid = start(argv);
    if (pid < 0) return -1;
    if (started) started();
    return wait_for(pid);
}

int run_and_wait(const std::vector<std::string>& argv, const std::string& input,
                 const std::function<void()>& started) {
    if (argv.empty() || argv[0].empty() || input.size() > PIPE_BUF) return -1;
    // The input goes into the pipe before the program exists: an empty pipe
    // takes PIPE_BUF bytes at once, and a program that ends without reading
    // them cannot make the write fail (no SIGPIPE).
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return -1;
    FdCloser read_end{fds[0]}, write_end{fds[1]};
    for (std::size_t done = 0; done < input.size();) {
        const ssize_t n = write(write_end.fd, input.data() + done, input.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        done += static_cast<std::size_t>(n);
    }
    close(write_end.fd);
    write_end.fd = -1;

    ActionsGuard fa;
    posix_spawn_file_actions_adddup2(&fa.actions, read_end.fd, STDIN_FILENO);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int rc = argv[0].find('/') == std::string::npos
                       ? posix_spawnp(&pid, args[0], &fa.actions, nullptr, args.data(), environ)
                       : posix_spawn(&pid, args[0], &fa.actions, nullptr, args.data(), environ);
    if (rc != 0) return -1;
    close(read_end.fd);
    read_end.fd = -1;
    if (started) started();
    return wait_for(static_cast<int>(pid));
}

std::vector<std::string> split_command_line(const std::string& line) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : line) {
        if (c == ' ' || c == '\t') {
            if (!cur.empty()) out.push_back(std::move(cur));
            cur.clear();
        } else {
            cur.push_back(c);
        }
    }
    if (!cur.empty()) out.push_back(std::move(cur));
    return out;
}

}  // namespace velarion::process
