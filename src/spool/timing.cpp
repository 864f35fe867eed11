#include "spool/timing.h"

#include <algorithm>

#include "spool/spool_files.h"

namespace velarion::spool {

bool held_by_timing(const std::string& head, const DateTime& now) {
    const std::string key_word = "TIMING:";
    auto pos = head.find(key_word);
    if (pos == std::string::npos) return false;
    pos += key_word.size();
    if (pos >= head.size() || head[pos] != 'D') return false;
    // The whole date and time is compared, so a directive of any year holds
    // the message until its minute.
    // A key that is not ten digits is no date: compared as text, letters
    // would hold the message for ever without a word.
    const std::string key = head.substr(pos + 1, 10);
    if (key.size() != 10 ||
        !std::all_of(key.begin(), key.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    return key > stamp_minutes(now);
}

}  // namespace velarion::spool
