// A file kept open between writes by its path (a log, a day's record):
// whether its descriptor still is the file the path names. The descriptor
// is asked every time (cheap); the path, which costs a walk, at most once a
// period, so a file renamed away gets the writes of at most that period.
#pragma once

#include <sys/stat.h>

#include <string>

namespace velarion {

class KeptFileCheck {
public:
    // `single_name`: a second name (a hard link someone made) counts as gone.
    explicit KeptFileCheck(bool single_name, long long period_ms = 1000)
        : single_name_(single_name), period_ms_(period_ms) {}

    // The file just opened at its path, as fstat describes it.
    void opened(const struct stat& st, long long now_ms);
    // True while `fd` is still a regular file named `path` (removed,
    // replaced, or given a second name when not allowed: false).
    bool current(int fd, const std::string& path, long long now_ms);

private:
    bool single_name_;
    long long period_ms_;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
    long long checked_ms_ = 0;  // when the path was last seen naming the file
};

}  // namespace velarion
