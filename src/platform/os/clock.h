// Wall clock and waits. Everything that reads the time or pauses goes through
// a Clock so that tests run on fixed dates and never sleep.
#pragma once

#include <map>
#include <string>

namespace velarion {

struct DateTime {
    int year = 2000, month = 1, day = 1;
    int hour = 0, minute = 0, second = 0;
    int weekday = 6;  // 0 = Sunday ... 6 = Saturday
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual DateTime now() const = 0;
    // Pauses the caller; a test clock only advances its time.
    virtual void sleep_ms(int ms) = 0;
    // Milliseconds on a clock that only moves forward, whatever is done to
    // the wall clock (steps by hand or by time synchronisation): what waits
    // within one run are measured on. Its origin means nothing.
    virtual long long monotonic_ms() const = 0;

    // The clock of a file system, which may not be this machine's (a network
    // file system's server): what the size check of spool files judges their
    // age by, so that a skew between the two clocks cannot shorten it. Both
    // in milliseconds by that clock.
    // The time there now: `stamp`, an existing file of the agent's own on
    // that file system, is touched and its new modification time read. -1
    // when it cannot be touched.
    virtual long long file_system_now_ms(const std::string& stamp) = 0;
    // When `path` last changed, contents or entry (its change time, which no
    // writer can set back), rounded up where the file system keeps whole
    // seconds only. -1 when it cannot be read.
    virtual long long file_changed_ms(const std::string& path) = 0;
};

class SystemClock final : public Clock {
public:
    DateTime now() const override;
    void sleep_ms(int ms) override;
    long long monotonic_ms() const override;
    long long file_system_now_ms(const std::string& stamp) override;
    long long file_changed_ms(const std::string& path) override;
};

// A clock standing still at a given moment; sleep_ms moves it forward.
// set() stands for time passing (the monotonic reading moves by as much,
// never back); step() for the wall clock stepped by hand (it does not move).
class FixedClock final : public Clock {
public:
    explicit FixedClock(DateTime t) : t_(t) {}
    DateTime now() const override { return t_; }
    void sleep_ms(int ms) override;
    long long monotonic_ms() const override { return monotonic_ms_; }
    void set(DateTime t);
    void step(DateTime t) { t_ = t; }
    int slept_ms() const { return slept_ms_; }
    int sleeps() const { return sleeps_; }
    long long file_system_now_ms(const std::string& stamp) override;
    long long file_changed_ms(const std::string& path) override;
    // The files now in `folder` count as unchanged for the last `ms`.
    void files_unchanged_for(const std::string& folder, long long ms);

private:
    // What a look at a file found: its identity, size and times on the real file system.
    struct FileState {
        unsigned long long inode = 0;
        long long size = -1, changed_ns = 0, modified_ns = 0;
        bool operator==(const FileState&) const = default;
    };
    struct Seen {
        FileState state;
        long long changed_ms = 0;  // by this clock
    };
    static FileState state_of(const std::string& path);
    static constexpr long long kFileSystemOrigin = 1000000000000LL;  // its file-system time at the start

    DateTime t_;
    int slept_ms_ = 0;
    int sleeps_ = 0;
    long long monotonic_ms_ = 0;
    std::map<std::string, Seen> seen_;
};

// Makes the C library read the system time zone (/etc/localtime) once, at
// the first local time, when TZ is unset: without TZ, glibc looks at that
// file again at every conversion that asks for the zone (two file looks a
// message). Changes of summer time are in the zone's data and still follow;
// a zone chosen anew for the machine counts from the next start. Called at
// the start of the program, before any thread.
void read_time_zone_once();

// Builds a DateTime (weekday computed) from its calendar parts.
DateTime make_datetime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

// The time as seconds from 1970-01-01 00:00:00 in the clock's own reading
// (no time zone): what the retry delays add and compare.
long long to_seconds(const DateTime& t);
// The DateTime (weekday computed) of such a count of seconds.
DateTime from_seconds(long long seconds);

// "dd/mm/yyyy HH:MM:SS", the time stamp of activity lines.
std::string format_timestamp(const DateTime& t);

}  // namespace velarion
