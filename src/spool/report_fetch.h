// The mailbox side of reading delivery reports, on a thread of its own: a
// job moves the reports matched at the last pass to their folder, lists the
// mailbox and reads and recognises its new messages. A mailbox server that is
// slow or silent holds up that thread alone, never the timer tick that
// delivers messages; what a job found is taken by a tick after it ended.
#pragma once

#include <cstddef>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/mail/delivery_report.h"
#include "platform/mail/mail.h"

namespace velarion::spool {

// A message of the mailbox as a job found it.
struct FetchedMail {
    std::string key;      // its name in the mailbox
    std::size_t size = 0;
    bool too_big = false;  // larger than ReportFetch::kMaxBytes: not read
    mail::ReportReading reading = mail::ReportReading::not_report;
    std::string problem;  // why a report was refused
    mail::DeliveryReport report;
};

struct FetchResult {
    std::vector<FetchedMail> mail;       // the messages listed and read
    std::vector<std::string> not_filed;  // reports that could not be moved
    std::string failure;                 // the mailbox's failure (the last); "" when all went well
};

// What a job is asked to do.
struct FetchJob {
    std::string where;                   // "casella"
    mail::Profile profile;               // the sign-on rules of its server
    std::vector<std::string> file_away;  // reports matched at the last pass
    std::vector<std::string> skip;       // sorted: mail set aside, not listed
    bool list = true;                    // false: only the reports moved
};

class ReportFetch {
public:
    ReportFetch() = default;
    ~ReportFetch();
    ReportFetch(const ReportFetch&) = delete;
    ReportFetch& operator=(const ReportFetch&) = delete;

    // Starts a job on its thread; false while one started before is not taken.
    bool start(FetchJob job);
    // A job started and its result not yet taken.
    bool busy() const { return job_.valid(); }
    // The result of the job started last once it has ended (with `wait`,
    // after waiting for it); nothing while it runs or when none was started.
    std::optional<FetchResult> take(bool wait);

    // A mailbox's message larger than this is not read.
    static constexpr std::size_t kMaxBytes = 4 * 1024 * 1024;
    // Messages read in one job at most (the rest wait for the next).
    static constexpr std::size_t kPerPass = 200;

private:
    FetchResult run(const FetchJob& job);
    void open(const FetchJob& job);

    // The mailbox, kept between jobs; only a running job uses it.
    std::unique_ptr<mail::ReportBox> box_;
    std::string box_for_;  // the "casella" it was opened for
    std::future<FetchResult> job_;
};

}  // namespace velarion::spool
