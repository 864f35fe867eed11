#include "spool/message_turns.h"

#include <algorithm>
#include <exception>
#include <utility>

namespace velarion::spool {

void MessageTurns::copy_ahead(const FoundMessage& f) {
    Ahead a{f.name, {}, 0};
    try {
        a.copy = stage_.copy(guard_, f.content, f.content_name);
        a.bytes = a.copy.source().size;
    } catch (const std::exception&) {
        // Copied at its turn instead, where a failure is reported with its message.
    }
    ahead_bytes_ += a.bytes;
    ahead_.push_back(std::move(a));
}

long long MessageTurns::front_wait() {
    if (ahead_.empty() || !ahead_.front().copy) return 0;
    return guard_.remaining_after(ahead_.front().copy.made());
}

bool MessageTurns::look_at_young(long long& soonest) {
    soonest = -1;
    const bool bound = young_waited_ms_ >= limit_ms_;
    std::vector<Young> still;
    for (auto& y : young_) {
        const SizeGuard::Look later = guard_.look(y.found.content);
        const bool unchanged = !bound && SizeGuard::same(y.first, later) && SizeGuard::judged(later);
        const long long left = unchanged ? SizeGuard::remaining_ms(y.first, later) : 0;
        if (left > 0) {
            soonest = soonest < 0 ? left : std::min(soonest, left);
            still.push_back(std::move(y));
        } else if (unchanged && room()) {
            copy_ahead(y.found);
        } else if (unchanged) {
            // Copied once the copies ahead leave room.
            soonest = 0;
            still.push_back(std::move(y));
        } else {
            // Changed meanwhile: its own size check waits for it.
            if (!hooks_.go_on()) return false;
            hooks_.take(y.found.name, {});
        }
    }
    young_.swap(still);
    return true;
}

void MessageTurns::take_next() {
    // The first in line, or while it still waits, the first that would not
    // (a message without a print file, or one whose copy failed).
    auto it = ahead_.begin();
    if (front_wait() > 0) {
        const auto ready = std::find_if(ahead_.begin(), ahead_.end(), [](const Ahead& a) { return !a.copy; });
        if (ready != ahead_.end()) it = ready;
    }
    Ahead a = std::move(*it);
    ahead_.erase(it);
    ahead_bytes_ -= a.bytes;
    hooks_.take(a.name, std::move(a.copy));
}

void MessageTurns::run(const std::function<std::optional<FoundMessage>()>& next) {
    bool more = true;
    for (;;) {
        if (!hooks_.go_on()) return;
        // Messages found are copied ahead as far as there is room: the
        // further ahead, the less their two seconds are waited for.
        while (more && room()) {
            std::optional<FoundMessage> f = next();
            if (!f) {
                more = false;
                break;
            }
            if (f->content.empty()) {
                ahead_.push_back({f->name, {}, 0});
                continue;
            }
            const SizeGuard::Look first = guard_.look(f->content);
            if (SizeGuard::judged(first) && SizeGuard::remaining_ms(first, first) > 0) {
                young_.push_back({std::move(*f), first});
                continue;
            }
            copy_ahead(*f);
            if (!hooks_.go_on()) return;
        }
        long long soonest = -1;
        if (!young_.empty() && !look_at_young(soonest)) return;
        if (!ahead_.empty() && (soonest < 0 || !room() || front_wait() <= soonest)) {
            take_next();
            continue;
        }
        if (soonest > 0) {
            hooks_.before_pause();
            guard_.pause(soonest);
            young_waited_ms_ += soonest;
            continue;
        }
        if (ahead_.empty() && young_.empty() && !more) return;
    }
}

}  // namespace velarion::spool
