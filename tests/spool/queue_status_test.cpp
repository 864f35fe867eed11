// The queue's status read (velarion --queue, the window's status) with
// spool files that are no plain files.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "platform/os/clock.h"
#include "spool/queue_status.h"
#include "spool/spool_files.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace velarion::testing {
namespace {

TEST(QueueStatus, AFifoInThePlaceOfATriggerOrHeaderStopsNothing) {
    TempDir root;
    const std::string spool = root / "spool/", work = root / "tempozip/";
    fs::create_directories(spool);
    fs::create_directories(work);
    // Opening either for reading would wait for a writer that never comes.
    ASSERT_EQ(::mkfifo((spool + "AB.4.T").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((spool + "AB.4.h").c_str(), 0600), 0);
    write_file(spool + "AB.5.h", "R5\r\n\r\nab@example.com\r\nc@x.it\r\nFattura\r\n.\r\nSEND\r\n");
    write_file(spool + "AB.5.T", "TIMING:D9912312359");
    EXPECT_EQ(spool::read_head(spool + "AB.4.T", 500), "");
    EXPECT_EQ(spool::read_head(spool + "AB.5.T", 7), "TIMING:");
    const auto report = spool::read_queue(spool, work, {"AB"}, make_datetime(2026, 12, 7, 10, 30, 0));
    ASSERT_EQ(report.messages.size(), 2u);
    EXPECT_EQ(report.messages[0].base + report.messages[1].base, "AB.4AB.5");
    auto messages = report.messages;
    for (auto& m : messages) spool::read_details(report, m);
    EXPECT_EQ(messages[1].to, "c@x.it");
    EXPECT_EQ(messages[0].to, "");
}

}  // namespace
}  // namespace velarion::testing
