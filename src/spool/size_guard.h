// The size check's clock. A content file is copied once it has been seen
// unchanged for two seconds, and its copy kept once the file is still as it
// was two seconds after the copy; both are judged by its file system's own
// clock (the agent's file in the spool's queue folder, touched, tells the
// time there), never by this machine's clock against a time another machine
// wrote, so a skew between them cannot shorten the check. A file unchanged
// for two seconds already is not made to wait, and the messages found in one
// scan share their waits instead of waiting one after the other.
#pragma once

#include <cstdint>
#include <string>

namespace velarion {

struct Runtime;

namespace spool {

class SizeGuard {
public:
    static constexpr long long kUnchangedMs = 2000;

    // `stamp`: an existing file of the agent's own on the spool's file system.
    SizeGuard(Runtime& rt, std::string stamp) : rt_(rt), stamp_(std::move(stamp)) {}

    // One look at a file: its size and last change, and the file system's
    // time of the look (-1 for either time when it cannot be told).
    struct Look {
        std::uintmax_t size = 0;
        bool present = false;
        long long changed = -1;
        long long at = -1;
    };
    // A look at `path`, then the file system's time (the stamp touched): the
    // file was as seen at that time at the latest.
    Look look(const std::string& path);
    // Its size and last change only (no time of the look).
    Look seen(const std::string& path) const;
    // The file system's time now (-1 when it cannot be told).
    long long now();

    // A moment by both clocks: the file system's (-1: unknown) and this
    // run's monotonic one.
    struct Moment {
        long long fs = -1;
        long long local = 0;
    };
    Moment moment();
    // Milliseconds still to wait until two seconds have passed since `then`
    // by the file system's clock and by the local one (never less, should
    // the file system's clock leap ahead); a file system's clock that cannot
    // be told or went back counts for nothing. 0: none.
    long long remaining_after(const Moment& then) { return remaining_between(then, moment()); }
    static long long remaining_between(const Moment& then, const Moment& now);

    // True when the file is as it was at the first look.
    static bool same(const Look& first, const Look& later) {
        return first.present == later.present && first.size == later.size && first.changed == later.changed;
    }
    // True when the look could tell the file's age by the file system's clock.
    static bool judged(const Look& l) { return l.at >= 0 && l.changed >= 0; }
    // Milliseconds still to wait before a file that was as `first` at its
    // first look and is the same at `later` (both judged) has been unchanged
    // for two seconds: it is known unchanged since its last change or since
    // the first look, whichever is earlier. 0: none.
    static long long remaining_ms(const Look& first, const Look& later);

    // Pauses for `ms` on the local clock, letting window events run at least
    // once a second.
    void pause(long long ms);

private:
    Runtime& rt_;
    std::string stamp_;
};

}  // namespace spool
}  // namespace velarion
