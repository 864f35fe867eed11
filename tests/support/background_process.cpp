#include "support/background_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

extern char** environ;

namespace velarion::testing {

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    std::vector<std::string> envs;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('=') + 1);
        bool replaced = false;
        for (const auto& o : env) replaced = replaced || o.rfind(name, 0) == 0;
        if (!replaced) envs.push_back(entry);
    }
    envs.insert(envs.end(), env.begin(), env.end());
    std::vector<char*> envp, args;
    for (auto& e : envs) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argv_copy = argv;
    for (auto& a : argv_copy) args.push_back(a.data());
    args.push_back(nullptr);
    const std::string out = io_ / "out", err = io_ / "err";
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawn(&pid_, args[0], &fa, nullptr, args.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
}

BackgroundProcess::~BackgroundProcess() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    wait();
}

std::string BackgroundProcess::out() const { return read_file(io_ / "out"); }
std::string BackgroundProcess::err() const { return read_file(io_ / "err"); }

bool BackgroundProcess::wait_for(const std::string& text, int timeout_ms) const {
    return eventually([&] { return out().find(text) != std::string::npos; }, timeout_ms);
}

void BackgroundProcess::signal(int sig) const {
    if (pid_ > 0) ::kill(pid_, sig);
}

int BackgroundProcess::wait() {
    if (pid_ <= 0) return status_;
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return status_;
}

bool eventually(const std::function<bool()>& check, int timeout_ms) {
    for (int waited = 0;; waited += 10) {
        if (check()) return true;
        if (waited >= timeout_ms) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace velarion::testing
