#include "spool/queue_record.h"

#include <charconv>
#include <sstream>

namespace velarion::spool {

namespace {
template <class N>
N number(const std::string& text) {
    N n = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    return ec == std::errc() && end == text.data() + text.size() ? n : 0;
}

// The reason on one line: line ends and other control characters become blanks.
std::string one_line(std::string s) {
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    return s;
}
}  // namespace

std::string format_record(const QueueRecord& r) {
    return "interruzioni=" + std::to_string(r.interruptions) + "\ntentativi=" + std::to_string(r.tries) +
           "\nprimo_errore=" + std::to_string(r.first_failure) + "\nprossimo_tentativo=" +
           std::to_string(r.next_try) + "\nultimo_tentativo=" + std::to_string(r.last_try) +
           "\nmotivo=" + one_line(r.reason) + "\n" + (r.delivering ? "in_consegna=1\n" : "") +
           (r.maybe_delivered ? "forse_consegnato=1\n" : "") + (r.accepted ? "consegnato=1\n" : "") +
           (r.message_id.empty() ? "" : "message_id=" + one_line(r.message_id) + "\n");
}

std::string message_id_lines(const std::string& message_id) { return "\nmessage_id=" + one_line(message_id) + "\n"; }

std::string delivering_lines(const std::string& message_id) {
    return "\nin_consegna=1" + (message_id.empty() ? std::string("\n") : message_id_lines(message_id));
}

QueueRecord parse_record(const std::string& text) {
    QueueRecord r;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "interruzioni") r.interruptions = number<int>(value);
        else if (key == "tentativi") r.tries = number<int>(value);
        else if (key == "primo_errore") r.first_failure = number<long long>(value);
        else if (key == "prossimo_tentativo") r.next_try = number<long long>(value);
        else if (key == "ultimo_tentativo") r.last_try = number<long long>(value);
        else if (key == "motivo") r.reason = value;
        else if (key == "in_consegna") r.delivering = value == "1";
        else if (key == "forse_consegnato") r.maybe_delivered = value == "1";
        else if (key == "message_id") r.message_id = value;
        else if (key == "consegnato") r.accepted = value == "1";
    }
    return r;
}

}  // namespace velarion::spool
