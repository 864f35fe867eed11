#include "spool/delivery_track.h"

#include <map>

#include "platform/os/text_encoding.h"

namespace velarion::spool {

namespace {

// A final word (failed, delivered) stands over a later "delayed".
bool final_state(RecipientState s) { return s == RecipientState::bounced || s == RecipientState::delivered; }

}  // namespace

RecipientState state_of_action(const std::string& action) {
    const std::string a = text::lower(text::trim(action));
    if (a == "failed") return RecipientState::bounced;
    if (a == "delayed") return RecipientState::delayed;
    if (a == "delivered" || a == "relayed" || a == "expanded") return RecipientState::delivered;
    return RecipientState::accepted;
}

std::vector<TrackedMessage> track(const std::string& work, int since, const std::string& base) {
    std::vector<TrackedMessage> out;
    std::map<std::string, std::size_t> by_id;
    for (auto& s : read_sent(work, since)) {
        if (!base.empty() && base != "all" && s.base != base) continue;
        TrackedMessage t;
        for (const auto& r : s.recipients) t.recipients.push_back({r, RecipientState::accepted, {}});
        t.sent = std::move(s);
        by_id[t.sent.message_id] = out.size();
        out.push_back(std::move(t));
    }
    // Reports come after their message, up to some days later: none before `since` matter.
    for (auto& o : read_outcomes(work, since)) {
        const auto m = by_id.find(o.message_id);
        if (m == by_id.end()) continue;
        TrackedMessage& t = out[m->second];
        const RecipientState state = state_of_action(o.action);
        if (state == RecipientState::accepted) continue;
        RecipientTrack* r = nullptr;
        for (auto& each : t.recipients)
            if (text::lower(each.address) == text::lower(o.recipient)) r = &each;
        if (!r) {
            // A recipient the server reached through an alias or a list.
            t.recipients.push_back({o.recipient, RecipientState::accepted, {}});
            r = &t.recipients.back();
        }
        if (final_state(r->state) && !final_state(state)) continue;
        r->state = state;
        r->report = std::move(o);
    }
    return out;
}

int bounced_on(const std::string& work, int yyyymmdd) {
    int n = 0;
    for (const auto& o : read_outcomes(work, yyyymmdd))
        n += state_of_action(o.action) == RecipientState::bounced;
    return n;
}

}  // namespace velarion::spool
