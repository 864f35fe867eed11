#include "platform/os/clock.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <thread>

namespace velarion {

namespace {
DateTime from_tm(const std::tm& tm) {
    DateTime t;
    t.year = tm.tm_year + 1900;
    t.month = tm.tm_mon + 1;
    t.day = tm.tm_mday;
    t.hour = tm.tm_hour;
    t.minute = tm.tm_min;
    t.second = tm.tm_sec;
    t.weekday = tm.tm_wday;
    return t;
}
}  // namespace

DateTime SystemClock::now() const {
    std::time_t raw = std::time(nullptr);
    std::tm tm{};
    localtime_r(&raw, &tm);
    return from_tm(tm);
}

void SystemClock::sleep_ms(int ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

long long SystemClock::monotonic_ms() const {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

namespace {
long long nanoseconds(const timespec& t) { return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec; }
}  // namespace

long long SystemClock::file_system_now_ms(const std::string& stamp) {
    // The time is set by the file system itself (on NFS the server's), never
    // sent from here. The stamp is not made when missing: it is the agent's
    // own file, and its absence is for its owner to notice.
    struct stat st {};
    if (::utimensat(AT_FDCWD, stamp.c_str(), nullptr, AT_SYMLINK_NOFOLLOW) != 0 || ::lstat(stamp.c_str(), &st) != 0)
        return -1;
    return nanoseconds(st.st_mtim) / 1000000;
}

long long SystemClock::file_changed_ms(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return -1;
    // The change time follows every write and every change of the times, so
    // a writer that keeps a file's old modification time (cp -p) is seen.
    long long ns = std::max(nanoseconds(st.st_ctim), nanoseconds(st.st_mtim));
    // Whole seconds (FAT keeps two): the change may have come up to that much later.
    if (ns % 1000000000LL == 0) ns += 2000000000LL;
    return (ns + 999999) / 1000000;
}

void FixedClock::set(DateTime t) {
    const long long forward = to_seconds(t) - to_seconds(t_);
    if (forward > 0) monotonic_ms_ += forward * 1000;
    t_ = t;
}

FixedClock::FileState FixedClock::state_of(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return {};
    return {static_cast<unsigned long long>(st.st_ino), static_cast<long long>(st.st_size),
            nanoseconds(st.st_ctim), nanoseconds(st.st_mtim)};
}

long long FixedClock::file_system_now_ms(const std::string& stamp) {
    (void)stamp;
    return kFileSystemOrigin + monotonic_ms_;
}

long long FixedClock::file_changed_ms(const std::string& path) {
    const FileState now = state_of(path);
    if (now.size < 0) return -1;
    auto it = seen_.find(path);
    if (it == seen_.end() || !(it->second.state == now)) {
        seen_[path] = {now, kFileSystemOrigin + monotonic_ms_};
        return kFileSystemOrigin + monotonic_ms_;
    }
    return it->second.changed_ms;
}

void FixedClock::files_unchanged_for(const std::string& folder, long long ms) {
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string path = it->path().string();
        seen_[path] = {state_of(path), kFileSystemOrigin + monotonic_ms_ - ms};
    }
}

void FixedClock::sleep_ms(int ms) {
    if (ms <= 0) return;
    ++sleeps_;
    slept_ms_ += ms;
    monotonic_ms_ += ms;
    std::tm tm{};
    tm.tm_year = t_.year - 1900;
    tm.tm_mon = t_.month - 1;
    tm.tm_mday = t_.day;
    tm.tm_hour = t_.hour;
    tm.tm_min = t_.minute;
    tm.tm_sec = t_.second + ms / 1000;
    tm.tm_isdst = 0;
    std::time_t raw = timegm(&tm);
    std::tm out{};
    gmtime_r(&raw, &out);
    t_ = from_tm(out);
}

void read_time_zone_once() {
    // ":" and a file: the zone file itself, as glibc reads it when TZ is unset.
    if (std::getenv("TZ") == nullptr) ::setenv("TZ", ":/etc/localtime", 0);
    ::tzset();
}

DateTime make_datetime(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    std::time_t raw = timegm(&tm);
    std::tm out{};
    gmtime_r(&raw, &out);
    return from_tm(out);
}

long long to_seconds(const DateTime& t) {
    using namespace std::chrono;
    const sys_days day = year{t.year} / month{static_cast<unsigned>(t.month)} / t.day;
    return day.time_since_epoch().count() * 86400LL + t.hour * 3600LL + t.minute * 60LL + t.second;
}

DateTime from_seconds(long long seconds) {
    using namespace std::chrono;
    long long days = seconds / 86400, rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    const year_month_day ymd{sys_days{std::chrono::days{days}}};
    const weekday wd{sys_days{std::chrono::days{days}}};
    DateTime t;
    t.year = static_cast<int>(ymd.year());
    t.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
    t.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
    t.hour = static_cast<int>(rest / 3600);
    t.minute = static_cast<int>(rest % 3600 / 60);
    t.second = static_cast<int>(rest % 60);
    t.weekday = static_cast<int>(wd.c_encoding());
    return t;
}

std::string format_timestamp(const DateTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d:%02d", t.day, t.month, t.year, t.hour,
                  t.minute, t.second);
    return buf;
}

}  // namespace velarion
