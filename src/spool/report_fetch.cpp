#include "spool/report_fetch.h"

#include <chrono>
#include <exception>
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

FetchResult ReportFetch::run(const FetchJob& job) {
    FetchResult r;
    try {
        if (!box_ || box_for_ != job.where) {
            box_.reset();
            box_ = mail::open_report_box(job.where, job.profile);
            box_for_ = job.where;
        }
        if (!job.file_away.empty()) {
            try {
                box_->file_away(job.file_away);
            } catch (...) {
                r.not_filed = job.file_away;
                throw;
            }
        }
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
    } catch (const std::exception& e) {
        // Opened afresh by the next job; what was read goes again then.
        box_.reset();
        r.mail.clear();
        r.failure = *e.what() ? e.what() : "errore sconosciuto";
    } catch (...) {
        box_.reset();
        r.mail.clear();
        r.failure = "errore sconosciuto";
    }
    return r;
}

}  // namespace velarion::spool
