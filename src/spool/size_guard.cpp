#include "spool/size_guard.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "common/runtime.h"

namespace velarion::spool {

namespace {
constexpr long long kEventSliceMs = 1000;
}  // namespace

SizeGuard::Look SizeGuard::look(const std::string& path) {
    Look l = seen(path);
    l.at = now();
    return l;
}

SizeGuard::Look SizeGuard::seen(const std::string& path) const {
    Look l;
    std::error_code ec;
    l.size = std::filesystem::file_size(path, ec);
    l.present = !ec;
    if (!l.present) l.size = 0;
    l.changed = rt_.clock.file_changed_ms(path);
    return l;
}

long long SizeGuard::now() { return stamp_.empty() ? -1 : rt_.clock.file_system_now_ms(stamp_); }

SizeGuard::Moment SizeGuard::moment() { return {now(), rt_.clock.monotonic_ms()}; }

long long SizeGuard::remaining_between(const Moment& then, const Moment& at) {
    long long left = kUnchangedMs - (at.local - then.local);
    if (then.fs >= 0 && at.fs >= then.fs) left = std::max(left, kUnchangedMs - (at.fs - then.fs));
    return std::clamp(left, 0LL, kUnchangedMs);
}

long long SizeGuard::remaining_ms(const Look& first, const Look& later) {
    // A change time ahead of the look (the file system's clock went back)
    // proves nothing: the file is known unchanged since the look only.
    const long long since = std::min(first.changed, first.at);
    return std::max(0LL, kUnchangedMs - (later.at - since));
}

void SizeGuard::pause(long long ms) {
    while (ms > 0) {
        const long long slice = std::min(ms, kEventSliceMs);
        rt_.clock.sleep_ms(static_cast<int>(slice));
        rt_.view.process_events();
        ms -= slice;
    }
}

}  // namespace velarion::spool
