#include "common/dsn_settings.h"

#include <charconv>

#include "platform/os/text_encoding.h"

namespace velarion {

namespace {

// NEVER alone, or any of SUCCESS, FAILURE, DELAY once each (RFC 3461 section 4.1).
bool valid_notify(const std::string& v) {
    if (v == "NEVER") return true;
    if (v.empty()) return false;
    std::string seen;
    for (std::size_t start = 0; start <= v.size();) {
        const std::size_t end = std::min(v.find(',', start), v.size());
        const std::string word = v.substr(start, end - start);
        if (word != "SUCCESS" && word != "FAILURE" && word != "DELAY") return false;
        if (seen.find("," + word + ",") != std::string::npos) return false;
        seen += "," + word + ",";
        start = end + 1;
    }
    return true;
}

}  // namespace

DsnSettings parse_dsn_settings(const DsnKeys& keys, const DsnProblem& problem) {
    DsnSettings s;
    std::string notify;
    for (char c : text::upper(text::trim(keys.notifica)))
        if (c != ' ') notify += c;
    if (valid_notify(notify))
        s.notify = notify;
    else if (!notify.empty() && problem)
        problem("notifica", text::trim(keys.notifica),
                "is not NEVER or a list of SUCCESS, FAILURE, DELAY (FAILURE,DELAY is used)");
    s.mailbox = text::trim(keys.casella);
    const std::string days = text::trim(keys.giorni);
    int n = 0;
    const auto [end, ec] = std::from_chars(days.data(), days.data() + days.size(), n);
    if (!days.empty()) {
        if (ec == std::errc() && end == days.data() + days.size() && n >= 1 && n <= 3650)
            s.days = n;
        else if (problem)
            problem("giorni", days, "is not a whole number of days from 1 to 3650 (30 are used)");
    }
    s.on_bounce = text::trim(keys.su_rifiuto);
    return s;
}

}  // namespace velarion
