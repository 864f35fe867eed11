// A preload library for the whole-program tests that need to act at the
// moment the agent makes a file: every rename's new name, as the agent gave
// it, is added as a line to WATCH_RENAME_LOG (when set); after the first
// rename whose new name ends with WATCH_RENAME_MATCH, WATCH_RENAME_TEXT is
// appended to the file WATCH_RENAME_APPEND (a writer that resumes right
// then), WATCH_RENAME_DELAY_MS milliseconds later when set (from a thread of
// its own, while the agent goes on). Renames themselves go through unchanged.
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

std::atomic<bool> g_appended{false};

void write_all(const char* path, const std::string& bytes) {
    const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n <= 0) break;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    ::close(fd);
}

bool ends_with(const char* text, const char* end) {
    const std::size_t t = std::strlen(text), e = std::strlen(end);
    return e <= t && std::strcmp(text + t - e, end) == 0;
}

// Called after each rename that succeeded.
void renamed(const char* to) {
    if (!to) return;
    if (const char* log = std::getenv("WATCH_RENAME_LOG"); log && *log) write_all(log, std::string(to) + "\n");
    const char* match = std::getenv("WATCH_RENAME_MATCH");
    const char* target = std::getenv("WATCH_RENAME_APPEND");
    const char* text = std::getenv("WATCH_RENAME_TEXT");
    if (!match || !*match || !target || !text || !ends_with(to, match)) return;
    if (g_appended.exchange(true)) return;
    const char* delay = std::getenv("WATCH_RENAME_DELAY_MS");
    const long ms = delay ? std::atol(delay) : 0;
    if (ms <= 0) {
        write_all(target, text);
        return;
    }
    std::thread([path = std::string(target), bytes = std::string(text), ms] {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        write_all(path.c_str(), bytes);
    }).detach();
}

template <class F>
F next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

int rename(const char* from, const char* to) {
    static auto real = next<int (*)(const char*, const char*)>("rename");
    const int r = real(from, to);
    if (r == 0) renamed(to);
    return r;
}

int renameat(int from_dir, const char* from, int to_dir, const char* to) {
    static auto real = next<int (*)(int, const char*, int, const char*)>("renameat");
    const int r = real(from_dir, from, to_dir, to);
    if (r == 0) renamed(to);
    return r;
}

int renameat2(int from_dir, const char* from, int to_dir, const char* to, unsigned flags) {
    static auto real = next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
    const int r = real(from_dir, from, to_dir, to, flags);
    if (r == 0) renamed(to);
    return r;
}

}  // extern "C"
