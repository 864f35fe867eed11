// Delivered messages in batches: one sync of the queue folder for the
// messages of a scan, and their spool files removed only after it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/os/agent_identity.h"
#include "platform/os/file_lock.h"
#include "spool/recovery.h"
#include "spool/spool_fixture.h"

namespace fs = std::filesystem;

namespace velarion::testing {
namespace {

using Batch = SpoolFixture;

TEST_F(Batch, DeliveredMessagesKeepTheirSpoolFilesUntilTheBatchIsOnDisk) {
    for (int i = 1; i <= 3; ++i) write_message("AB." + std::to_string(i), header("R" + std::to_string(i), "a@x.it"), "b");
    const std::string mine = "concluso." + agent_identity();
    std::vector<std::string> seen;
    scanner.set_deliver([&](const DeliveryRequest& r) {
        // While the third goes, the first two are concluded in this agent's
        // batch: their spool files are still there.
        if (r.lsNumRef == "R3") {
            seen = files_in(spool + "coda");
            EXPECT_TRUE(fs::exists(spool + "AB.1.h"));
            EXPECT_TRUE(fs::exists(spool + "AB.2.b"));
        }
        delivered.push_back(r);
        return DeliveryOutcome{Delivered::yes};
    });
    scan();
    ASSERT_EQ(delivered.size(), 3u) << dump();
    EXPECT_NE(std::find(seen.begin(), seen.end(), "AB.1.T@" + mine), seen.end());
    EXPECT_NE(std::find(seen.begin(), seen.end(), "AB.2.T@" + mine), seen.end());
    // After the scan's sync every spool file is gone, and the queue is empty.
    EXPECT_EQ(files_in(spool), std::vector<std::string>{"coda/"});
    EXPECT_EQ(files_in(spool + "coda"), std::vector<std::string>{"agenti/"});
    EXPECT_FALSE(has_text("gia' concluso")) << dump();
}

TEST_F(Batch, AnotherAgentsBatchIsItsOwnWhileItLivesAndFinishedOnceItIsGone) {
    const std::string other = "altrohost-77-feedface";
    write_message("AB.5", header("R5", "a@x.it"), "b");
    fs::create_directories(spool + "coda/agenti");
    fs::rename(spool + "AB.5.T", spool + "coda/AB.5.T@concluso." + other);
    auto lock = FileLock::create(spool + "coda/agenti/" + other);
    ASSERT_TRUE(lock);
    scan();
    EXPECT_TRUE(delivered.empty());
    EXPECT_TRUE(fs::exists(spool + "AB.5.h"));
    EXPECT_TRUE(fs::exists(spool + "coda/AB.5.T@concluso." + other));
    EXPECT_FALSE(has_text("gia' concluso")) << dump();

    lock.reset();  // that agent ends before its batch's sync
    // The other agents' locks are looked at again once kLivenessMs have passed.
    clock.set(make_datetime(2026, 12, 7, 10, 30, spool::kLivenessMs / 1000));
    scan();
    EXPECT_TRUE(delivered.empty());
    EXPECT_TRUE(has_line(stamp() + " Messaggio AB.5 gia' concluso: rimossi i suoi file di spool")) << dump();
    EXPECT_EQ(files_in(spool), std::vector<std::string>{"coda/"});
    EXPECT_EQ(files_in(spool + "coda"), std::vector<std::string>{"agenti/"});
}

}  // namespace
}  // namespace velarion::testing
