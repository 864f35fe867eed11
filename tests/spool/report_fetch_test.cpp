// The mailbox side of reading delivery reports, on its own thread: what a
// job lists and recognises, and a mailbox whose reports cannot be moved,
// which is read all the same.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "spool/report_fetch.h"
#include "support/test_support.h"

namespace velarion {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

const std::string kReport =
    "From: MAILER-DAEMON@mx.example.test\r\nSubject: Undelivered Mail\r\nMIME-Version: 1.0\r\n"
    "Content-Type: multipart/report; report-type=delivery-status; boundary=\"b\"\r\n\r\n--b\r\n"
    "Content-Type: message/delivery-status\r\n\r\nReporting-MTA: dns; mx.example.test\r\n"
    "Original-Envelope-Id: AB.1.0a1b2c3d4e5f\r\n\r\n"
    "Final-Recipient: rfc822; x@example.test\r\nAction: failed\r\nStatus: 5.1.1\r\n--b--\r\n";

spool::FetchResult run(spool::ReportFetch& fetch, spool::FetchJob job) {
    EXPECT_TRUE(fetch.start(std::move(job)));
    EXPECT_FALSE(fetch.start({}));  // one job at a time
    auto result = fetch.take(true);
    EXPECT_TRUE(result.has_value());
    EXPECT_FALSE(fetch.busy());
    return result ? *result : spool::FetchResult{};
}

TEST(ReportFetch, ReadsTheMailboxAndStillReadsItWhenReportsCannotBeMoved) {
    testing::TempDir dir;
    for (const char* sub : {"new", "cur", "tmp"}) fs::create_directories(dir / sub);
    testing::write_file(dir / "new/1.report", kReport);
    testing::write_file(dir / "new/2.other", "From: a@b.test\r\nSubject: ciao\r\n\r\nciao\r\n");
    testing::write_file(dir / "new/3.big", std::string(spool::ReportFetch::kMaxBytes + 1, 'x'));
    spool::ReportFetch fetch;
    EXPECT_FALSE(fetch.take(true).has_value());  // no job yet

    spool::FetchJob job;
    job.where = dir.path();
    const auto first = run(fetch, job);
    EXPECT_EQ(first.failure, "");
    ASSERT_EQ(first.mail.size(), 3u);
    for (const auto& m : first.mail) {
        if (m.key == "new/1.report") {
            EXPECT_EQ(m.reading, mail::ReportReading::report);
            EXPECT_EQ(m.report.envelope_id, "AB.1.0a1b2c3d4e5f");
        } else if (m.key == "new/3.big") {
            EXPECT_TRUE(m.too_big);
        } else {
            EXPECT_EQ(m.reading, mail::ReportReading::not_report);
        }
    }

    // The reports' folder cannot be made: the move fails and is said, the
    // rest is listed all the same.
    testing::write_file(dir / ".Velarion.Rapporti", "not a folder");
    testing::write_file(dir / "new/4.report", kReport);
    job.file_away = {"new/1.report"};
    job.skip = {"new/1.report", "new/2.other", "new/3.big"};
    const auto second = run(fetch, job);
    EXPECT_EQ(second.not_filed, std::vector<std::string>{"new/1.report"});
    EXPECT_THAT(second.failure, HasSubstr(".Velarion.Rapporti"));
    ASSERT_EQ(second.mail.size(), 1u);
    EXPECT_EQ(second.mail[0].key, "new/4.report");
    EXPECT_TRUE(fs::exists(dir / "new/1.report"));

    // Once it can be made, the move goes through.
    fs::remove(dir / ".Velarion.Rapporti");
    job.file_away = {"new/1.report", "new/4.report"};
    job.list = false;
    const auto third = run(fetch, job);
    EXPECT_EQ(third.failure, "");
    EXPECT_TRUE(third.mail.empty());
    EXPECT_TRUE(fs::exists(dir / ".Velarion.Rapporti/cur/1.report"));
    EXPECT_TRUE(fs::exists(dir / ".Velarion.Rapporti/cur/4.report"));
}

}  // namespace
}  // namespace velarion
