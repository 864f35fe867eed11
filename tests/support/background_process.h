// A program started in the background by a test: its standard output and
// error go to files the test can watch while it runs, and the test decides
// when it ends (a signal, SIGKILL included).
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace velarion::testing {

class BackgroundProcess {
public:
    // Starts argv[0] (a path) with the extra environment entries ("NAME=value").
    BackgroundProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
    ~BackgroundProcess();  // SIGKILL when it still runs
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    std::string out() const;
    std::string err() const;
    // True once its standard output holds text (waits up to timeout_ms).
    bool wait_for(const std::string& text, int timeout_ms) const;
    void signal(int sig) const;
    // Waits for its end; its exit status, -1 when a signal ended it.
    int wait();

private:
    TempDir io_;
    pid_t pid_ = -1;
    int status_ = -1;
};

// True once check() holds (tried every 20 ms, up to timeout_ms).
bool eventually(const std::function<bool()>& check, int timeout_ms);

}  // namespace velarion::testing
