// Reads the delivery reports that arrive in the mailbox "casella" of section
// DSN, once a minute: each report (RFC 3464) is matched to a sent message by
// its envelope id, else by the Message-ID of the headers it returns; what it
// says per recipient goes to the record of outcomes, a bounce writes an
// activity line, a tray notification, the day's count and runs "su_rifiuto";
// matched reports go to the mailbox's folder "Velarion/Rapporti". Other mail
// stays as it is, and a report that cannot be read safely is skipped with a
// line. Nothing it meets escapes as an exception.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "spool/sent_record.h"

namespace velarion {
struct Runtime;
namespace mail {
class ReportBox;
}
}  // namespace velarion

namespace velarion::spool {

class ReportReader {
public:
    // The record of sent messages is in the work folder of rt's settings.
    explicit ReportReader(Runtime& rt);
    ~ReportReader();
    ReportReader(const ReportReader&) = delete;
    ReportReader& operator=(const ReportReader&) = delete;

    // A pass when a minute has gone since the last (the first at once).
    void tick();
    // A pass now.
    void read_now();

    // A mailbox's message larger than this is not read.
    static constexpr std::size_t kMaxBytes = 4 * 1024 * 1024;
    // Messages read in one pass at most (the rest wait for the next).
    static constexpr std::size_t kPerPass = 200;

private:
    void pass();
    void bounce(const SentMessage& sent, const ReportedOutcome& o);
    void reap_programs();
    void trouble(const std::string& why);

    Runtime& rt_;
    std::unique_ptr<mail::ReportBox> box_;
    std::string box_for_;              // the "casella" the box was opened for
    long long last_ms_ = -1;           // the last pass (Clock::monotonic_ms)
    std::vector<std::string> skip_;    // sorted: mail left in the box (no report, unreadable, not ours)
    std::string trouble_;              // the mailbox failure said last ("" while it works)
    std::vector<int> programs_;        // "su_rifiuto" runs not yet ended
};

// The words for a status code that an operator understands ("casella
// inesistente" for 5.1.1); empty when there are none.
std::string status_words(const std::string& status);

}  // namespace velarion::spool
