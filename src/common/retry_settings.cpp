#include "common/retry_settings.h"

#include <charconv>

#include "platform/os/text_encoding.h"

namespace velarion {

long long RetrySettings::delay_after(int failures) const {
    if (delays.empty()) return 3600;
    const std::size_t i = failures <= 1 ? 0 : static_cast<std::size_t>(failures - 1);
    return delays[i < delays.size() ? i : delays.size() - 1];
}

long long parse_duration(const std::string& raw) {
    const std::string t = text::trim(raw);
    long long n = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), n);
    if (ec != std::errc() || end == t.data() || n < 0 || n > 10'000'000) return -1;
    const std::string unit = text::lower(text::trim(std::string(end, t.data() + t.size())));
    if (unit.empty() || unit == "m") return n * 60;
    if (unit == "s") return n;
    if (unit == "h") return n * 3600;
    return -1;
}

RetrySettings parse_retry_settings(const std::string& delays, const std::string& limit,
                                   const std::string& retention_days, const RetryKeyProblem& problem) {
    const std::string form = "such as 90 (minutes), 30s, 15m or 24h";
    auto report = [&](const char* key, const std::string& value, const std::string& what) {
        if (problem) problem(key, text::trim(value), what);
    };
    RetrySettings r;
    if (!text::trim(delays).empty()) {
        std::vector<long long> list;
        std::size_t start = 0;
        bool good = true;
        while (good && start <= delays.size()) {
            const std::size_t comma = delays.find(',', start);
            const std::size_t stop = comma == std::string::npos ? delays.size() : comma;
            const std::string one = delays.substr(start, stop - start);
            const long long d = parse_duration(one);
            good = d > 0;
            if (!good) report("retry_delays", one, "is not a duration above 0 " + form + " (the default waits are used)");
            list.push_back(d);
            start = stop + 1;
        }
        if (good) r.delays = std::move(list);
    }
    if (!text::trim(limit).empty()) {
        if (const long long l = parse_duration(limit); l >= 0) r.limit = l;
        else report("retry_limit", limit, "is not a duration " + form + " (24h is used)");
    }
    if (const std::string days = text::trim(retention_days); !days.empty()) {
        int n = 0;
        const auto [end, ec] = std::from_chars(days.data(), days.data() + days.size(), n);
        if (ec == std::errc() && end == days.data() + days.size() && n >= 0) r.retention_days = n;
        else report("retention_days", days, "is not a whole number of days (7 are used)");
    }
    return r;
}

}  // namespace velarion
