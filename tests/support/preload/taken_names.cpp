// A preload library for the tests of file names already taken: exclusive
// creations (O_CREAT|O_EXCL) of a path containing TAKEN_NAME_MATCH fail with
// EEXIST, every TAKEN_NAME_EVERY-th of them (1: each), without making a file,
// as when another writer holds the name. Other opens go through.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<long> g_matching{0};

bool taken(const char* path, int flags) {
    if ((flags & (O_CREAT | O_EXCL)) != (O_CREAT | O_EXCL)) return false;
    const char* match = std::getenv("TAKEN_NAME_MATCH");
    if (!match || !path || !std::strstr(path, match)) return false;
    const char* every = std::getenv("TAKEN_NAME_EVERY");
    const long n = every ? std::atol(every) : 1;
    return n > 0 && ++g_matching % n == 0;
}

template <class F>
F next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

mode_t mode_of(int flags, va_list& ap) { return (flags & (O_CREAT | O_TMPFILE)) ? va_arg(ap, mode_t) : 0; }

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = mode_of(flags, ap);
    va_end(ap);
    if (taken(path, flags)) return errno = EEXIST, -1;
    static auto real = next<int (*)(const char*, int, ...)>("open");
    return real(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = mode_of(flags, ap);
    va_end(ap);
    if (taken(path, flags)) return errno = EEXIST, -1;
    static auto real = next<int (*)(const char*, int, ...)>("open64");
    return real(path, flags, mode);
}

int openat(int dir, const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = mode_of(flags, ap);
    va_end(ap);
    if (taken(path, flags)) return errno = EEXIST, -1;
    static auto real = next<int (*)(int, const char*, int, ...)>("openat");
    return real(dir, path, flags, mode);
}

int openat64(int dir, const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = mode_of(flags, ap);
    va_end(ap);
    if (taken(path, flags)) return errno = EEXIST, -1;
    static auto real = next<int (*)(int, const char*, int, ...)>("openat64");
    return real(dir, path, flags, mode);
}

}  // extern "C"
