// How undelivered messages are tried again and how long copies are kept:
// the keys "retry_delays", "retry_limit" and "retention_days" of section
// "GLOBAL", read once with the operator's settings.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace velarion {

struct RetrySettings {
    // Waits after the first, second, ... failure in a row, in seconds; the
    // last one repeats (1, 5, 15, 60 minutes, then hourly).
    std::vector<long long> delays = {60, 300, 900, 3600};
    // How long a message that fails for a temporary reason is tried before it
    // is parked, in seconds (24 hours).
    long long limit = 24 * 3600;
    // Days the copies of delivered messages kept below "non_copiati" stay.
    int retention_days = 7;

    // The wait after `failures` failures in a row (1 for the first).
    long long delay_after(int failures) const;
};

// A key whose text cannot be used: its name, the text, and what is wrong
// with it (with the value used instead).
using RetryKeyProblem = std::function<void(const char* key, const std::string& text, const std::string& what)>;

// Reads the three keys' texts; a missing or unreadable value keeps its default
// (an unreadable one is also handed to `problem`, when given).
// Durations are minutes, or a number followed by "s", "m" or "h"
// ("retry_delays=1,5,15,60", "retry_limit=24h", "retry_delays=2s,2s").
RetrySettings parse_retry_settings(const std::string& delays, const std::string& limit,
                                   const std::string& retention_days, const RetryKeyProblem& problem = {});

// One duration as above, in seconds; -1 when the text is not one.
long long parse_duration(const std::string& text);

}  // namespace velarion
