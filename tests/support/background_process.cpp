#include "support/background_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace velarion::testing {

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env)
    : pid_(start_program(argv, env, io_ / "out", io_ / "err")) {}

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
