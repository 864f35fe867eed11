// Running a piece of work on untrusted input in a child process of its own
// (fork, no exec): a crash, a stack overflow or a memory limit there ends the
// child only, and the caller gets the child's answer or a failure.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace velarion::isolated_call {

struct Limits {
    std::size_t address_space = 0;  // bytes the child may map; 0: no limit
};

struct Result {
    bool ok = false;      // the work returned true and the child exited normally
    bool crashed = false;  // the child ended by a signal (a crash, the memory limit)
    std::string answer;   // what the work wrote to its answer descriptor (at most 1 MB)
};

// Runs work(answer_fd) in a forked child and waits for it. The work writes its
// answer to answer_fd and returns true when it succeeded. Nothing the child
// does is undone in the caller (no destructor of the caller's objects runs
// there), so the work must only write to descriptors the caller gave it.
Result run(const std::function<bool(int answer_fd)>& work, const Limits& limits);

// Writes all of text to fd; false on a write error.
bool write_all(int fd, const std::string& text);

}  // namespace velarion::isolated_call
