// The activity list (List1): the system's journal. Every routine adds its
// lines here; the run log flush empties it into the day's log file.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os/clock.h"

namespace velarion {

class ActivityList {
public:
    // Long enough for the longest line the agent writes of its own values
    // (a line naming two configured paths of 1,023 characters each, with a
    // spool name and a reason); a line of spool input beyond it is cut.
    static constexpr std::size_t kMaxLine = 8192;
    static constexpr std::string_view kCutMark = " [...]";

    explicit ActivityList(const Clock& clock) : clock_(clock) {}

    // Adds the current time stamp followed by text (which normally starts with a blank).
    void add(std::string_view text);
    // Adds a line as given. In both, control characters become "?", and a
    // line longer than kMaxLine bytes is cut there, ending with kCutMark.
    void add_raw(std::string line);

    const std::vector<std::string>& lines() const { return lines_; }
    std::size_t size() const { return lines_.size(); }
    void clear();
    // Removes the first n lines (after they were written to the log). What a
    // window shows of them is its own: it is not told.
    void drop_front(std::size_t n);

    // "Redraw the list": lets the view show the lines added so far.
    void refresh() const;

    // Called with each line as it is added (headless echo, window list).
    using Observer = std::function<void(const std::string&)>;
    void set_on_add(Observer f) { on_add_ = std::move(f); }
    // Called when the list is cleared (clear) or redrawn (refresh).
    void set_on_change(std::function<void()> f) { on_change_ = std::move(f); }
    void set_on_clear(std::function<void()> f) { on_clear_ = std::move(f); }

    std::string timestamp() const { return format_timestamp(clock_.now()); }

private:
    const Clock& clock_;
    std::vector<std::string> lines_;
    Observer on_add_;
    std::function<void()> on_change_;
    std::function<void()> on_clear_;
};

}  // namespace velarion
