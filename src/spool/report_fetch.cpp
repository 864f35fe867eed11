#include "spool/report_fetch.h"

#include <chrono>
#include <exception>
#include <string>
#include <utility>

namespace velarion::spool {

ReportFetch::~ReportFetch() {
    // A job under way ends within the server's waits; its box is ours.
    if (job_.valid()) job_.wait();
}

bool ReportFetch::start(FetchJob job) {
    if (job_.valid()) return false;
    job_ = std::async(std::launch::async, [this, job = std::move(job)] { return run(job); });
    return true;
}

std::optional<FetchResult> ReportFetch::take(bool wait) {
    if (!job_.valid()) return std::nullopt;
    if (!wait && job_.wait_for(std::chrono::seconds(0)) != std::future_status::ready) return std::nullopt;
    return job_.get();
}

namespace {

std::string failure_text() {
    try {
        throw;
    } catch (const std::exception& e) {
        return *e.what() ? e.what() : "errore sconosciuto";
    } catch (...) {
        return "errore sconosciuto";
    }
}

}  // namespace

void ReportFetch::open(const FetchJob& job) {
    if (box_ && box_for_ == job.where) return;
    box_.reset();
    box_ = mail::open_report_box(job.where, job.profile);
    box_for_ = job.where;
}

FetchResult ReportFetch::run(const FetchJob& job) {
    FetchResult r;
    if (!job.file_away.empty()) {
        try {
            open(job);
            box_->file_away(job.file_away);
        } catch (...) {
            // Opened afresh below; the mailbox is read all the same, so that
            // reports that cannot be moved never stop the others being read.
            box_.reset();
            r.not_filed = job.file_away;
            r.failure = failure_text();
        }
    }
    try {
        open(job);
        if (job.list) {
            for (const auto& item : box_->list(job.skip, kPerPass)) {
                // One message in memory at a time, and none larger than the limit.
                FetchedMail m;
                m.key = item.key;
                m.size = item.size;
                m.too_big = item.size > kMaxBytes;
                if (!m.too_big) m.reading = mail::read_delivery_report(box_->read(item), m.report, m.problem);
                if (m.reading == mail::ReportReading::not_report) m.report = {};
                r.mail.push_back(std::move(m));
            }
        }
        box_->rest();
    } catch (...) {
        // Opened afresh by the next job; what was read goes again then.
        box_.reset();
        r.mail.clear();
        r.failure = failure_text();
    }
    return r;
}

}  // namespace velarion::spool
