// Reads the delivery reports that arrive in the mailbox "casella" of section
// DSN, once a minute: each report (RFC 3464) is matched to a sent message by
// its envelope id, else by the Message-ID of the headers it returns; what it
// says per recipient goes to the record of outcomes, a bounce writes an
// activity line, a tray notification, the day's count and runs "su_rifiuto";
// matched reports go to the mailbox's folder "Velarion/Rapporti". Other mail
// stays as it is, and a report that cannot be read safely is skipped with a
// line. The mailbox is read on a thread of its own (ReportFetch), so that its
// server never holds up the tick; the rest happens in the tick. Nothing it
// meets escapes as an exception.
#pragma once

#include <string>
#include <vector>

#include "spool/report_fetch.h"
#include "spool/sent_record.h"

namespace velarion {
struct Runtime;
}  // namespace velarion

namespace velarion::spool {

class ReportReader {
public:
    // The record of sent messages is in the work folder of rt's settings.
    explicit ReportReader(Runtime& rt);
    ~ReportReader();
    ReportReader(const ReportReader&) = delete;
    ReportReader& operator=(const ReportReader&) = delete;

    // Takes what the mailbox's thread read since the last tick, and starts
    // its next pass when a minute has gone since the last (the first at
    // once), or at once when matched reports wait to be moved. Never waits
    // for the mailbox.
    void tick();
    // At the close: waits for a pass under way, takes what it read and moves
    // the reports matched, so that a run of one tick reads the mailbox once.
    void finish();

private:
    void start(bool list);
    void take(const FetchResult& result);
    void bounce(const SentMessage& sent, const ReportedOutcome& o);
    void reap_programs();
    void trouble(const std::string& why);

    Runtime& rt_;
    ReportFetch fetch_;
    long long last_ms_ = -1;           // the last pass (Clock::monotonic_ms)
    std::string skip_for_;             // the "casella" skip_ is about
    std::vector<std::string> skip_;    // sorted: mail left in the box (no report, unreadable, not ours)
    std::vector<std::string> to_file_;  // reports matched, not yet moved to their folder
    bool file_now_ = false;             // to_file_ holds reports matched since the last pass started
    std::string trouble_;              // the mailbox failure said last ("" while it works)
    std::vector<int> programs_;        // "su_rifiuto" runs not yet ended
};

// The words for a status code that an operator understands ("casella
// inesistente" for 5.1.1); empty when there are none.
std::string status_words(const std::string& status);

}  // namespace velarion::spool
