#include "platform/os/process_id.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>

namespace velarion {

namespace {
// 0 until asked; a forked child starts again at 0, so it asks for its own.
std::atomic<pid_t> cached{0};
}  // namespace

pid_t process_id() {
    static const bool watched = [] { return ::pthread_atfork(nullptr, nullptr, [] { cached = 0; }) == 0; }();
    pid_t id = cached.load(std::memory_order_relaxed);
    if (id == 0 || !watched) {
        id = ::getpid();
        cached.store(id, std::memory_order_relaxed);
    }
    return id;
}

}  // namespace velarion
