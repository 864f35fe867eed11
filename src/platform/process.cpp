#include "platform/process.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

extern char** environ;

namespace velarion::process {

int run_and_wait(const std::vector<std::string>& argv) {
    if (argv.empty() || argv[0].empty()) return -1;
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    pid_t pid = 0;
    int rc = argv[0].find('/') == std::string::npos
                 ? posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ)
                 : posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ);
    if (rc != 0) return -1;

    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (WIFEXITED(status)) {
        // posix_spawn reports a program that cannot be executed as exit code 127.
        return WEXITSTATUS(status);
    }
    return -1;
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
