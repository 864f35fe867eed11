// The order in which a scan takes the messages it found, so that the waits
// of their print files' size checks overlap instead of adding up: a print
// file changed less than two seconds before waits while the others go; one
// that has been unchanged that long is copied at once, ahead of its
// message's turn, so that its two seconds after the copy pass while the
// messages before it are delivered. Copies made ahead are bounded in number
// and bytes (a window kept full as the messages go), and dropped (removed)
// when the run ends before their turn.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "spool/size_guard.h"
#include "spool/staged_copy.h"

namespace velarion::spool {

// A message found: its trigger's name and its print file (".0"), if it has
// a plain one: the path and the name in the spool.
struct FoundMessage {
    std::string name;
    std::string content;
    std::string content_name;
};

class MessageTurns {
public:
    // Each copy waits 2 s after it is made, so the window bounds a scan's
    // pace to kAheadMessages / 2 s: 1,024 leaves room for 500 messages a
    // second; the copies are small files on disk, a few hundred bytes of
    // memory each.
    static constexpr std::size_t kAheadMessages = 1024;
    static constexpr std::uintmax_t kAheadBytes = 64ULL * 1024 * 1024;

    struct Hooks {
        // Asked before each message and each copy: false ends the run.
        std::function<bool()> go_on;
        // The message's turn, with the copy of its print file made ahead (or none).
        std::function<void(const std::string& name, StagedCopy copy)> take;
        // Before the run pauses: the messages delivered so far do not wait.
        std::function<void()> before_pause;
    };

    // limit_ms: past this much waiting for files still changing, they are
    // taken as they are (their own size checks tell).
    MessageTurns(SizeGuard& guard, CopyStage& stage, long long limit_ms, Hooks hooks)
        : guard_(guard), stage_(stage), limit_ms_(limit_ms), hooks_(std::move(hooks)) {}

    // Takes every message `next` yields (none: no more), each at its turn.
    void run(const std::function<std::optional<FoundMessage>()>& next);

private:
    struct Ahead {
        std::string name;
        StagedCopy copy;
        std::uintmax_t bytes = 0;
    };
    struct Young {
        FoundMessage found;
        SizeGuard::Look first;
    };

    bool room() const { return ahead_.size() < kAheadMessages && ahead_bytes_ < kAheadBytes; }
    void copy_ahead(const FoundMessage& f);
    long long front_wait();
    // Young print files: those unchanged for two seconds now are copied,
    // those that changed (or all, past the limit) are taken at once. Returns
    // the soonest wait of those left (-1: none); false when the run ends.
    bool look_at_young(long long& soonest);
    void take_next();

    SizeGuard& guard_;
    CopyStage& stage_;
    long long limit_ms_;
    Hooks hooks_;
    std::deque<Ahead> ahead_;
    std::uintmax_t ahead_bytes_ = 0;
    std::vector<Young> young_;
    long long young_waited_ms_ = 0;
};

}  // namespace velarion::spool
