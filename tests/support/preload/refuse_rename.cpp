// A preload library for the tests of a spool file system that fails: renames
// whose new name contains REFUSE_RENAME_MATCH fail with ENOSPC (or
// REFUSE_RENAME_ERRNO), every REFUSE_RENAME_EVERY-th of them (1: each), or
// each while the file REFUSE_RENAME_WHILE exists. Other renames go through.
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<long> g_matching{0};

bool refused(const char* to) {
    const char* match = std::getenv("REFUSE_RENAME_MATCH");
    if (!match || !to || !std::strstr(to, match)) return false;
    if (const char* flag = std::getenv("REFUSE_RENAME_WHILE"); flag && *flag) return access(flag, F_OK) == 0;
    const char* every = std::getenv("REFUSE_RENAME_EVERY");
    const long n = every ? std::atol(every) : 1;
    if (n <= 0) return false;
    return ++g_matching % n == 0;
}

int refuse() {
    const char* e = std::getenv("REFUSE_RENAME_ERRNO");
    errno = e ? std::atoi(e) : ENOSPC;
    return -1;
}

template <class F>
F next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

int rename(const char* from, const char* to) {
    if (refused(to)) return refuse();
    static auto real = next<int (*)(const char*, const char*)>("rename");
    return real(from, to);
}

int renameat(int from_dir, const char* from, int to_dir, const char* to) {
    if (refused(to)) return refuse();
    static auto real = next<int (*)(int, const char*, int, const char*)>("renameat");
    return real(from_dir, from, to_dir, to);
}

int renameat2(int from_dir, const char* from, int to_dir, const char* to, unsigned flags) {
    if (refused(to)) return refuse();
    static auto real = next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
    return real(from_dir, from, to_dir, to, flags);
}

}  // extern "C"
