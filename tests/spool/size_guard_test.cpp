// The size check judged by the file system's clock: files unchanged for two
// seconds go without waiting, and the messages of one scan share their waits.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "spool/size_guard.h"
#include "spool/spool_fixture.h"

namespace fs = std::filesystem;

namespace velarion::testing {
namespace {

using SizeGuardScan = SpoolFixture;

int lines_with(const ActivityList& list, const std::string& text) {
    int n = 0;
    for (const auto& l : list.lines()) n += l.find(text) != std::string::npos;
    return n;
}

TEST_F(SizeGuardScan, MessagesWhosePrintFilesAreOldGoWithoutAnyWait) {
    constexpr int kMessages = 20;
    for (int i = 0; i < kMessages; ++i)
        write_message("AB." + std::to_string(100 + i), header("R" + std::to_string(i), "a@x.it", {"A.PDF"}), "b",
                      {"contenuto " + std::to_string(i)});
    // Written three seconds before the scan, by the file system's clock.
    clock.files_unchanged_for(spool, 3000);
    scan();
    ASSERT_EQ(delivered.size(), static_cast<std::size_t>(kMessages)) << dump();
    EXPECT_EQ(clock.sleeps(), 0);
    EXPECT_EQ(clock.slept_ms(), 0);
    // Each message still has its two lines of the check, in order, and nothing copied twice.
    for (int i = 0; i < kMessages; ++i) {
        const std::string path = spool + "AB." + std::to_string(100 + i) + ".0";
        const std::string size = std::to_string(std::string("contenuto " + std::to_string(i)).size());
        const auto& l = list.lines();
        const auto first = std::find(l.begin(), l.end(), stamp() + " Dimensione iniziale " + path + " " + size);
        ASSERT_NE(first, l.end()) << dump();
        EXPECT_NE(std::find(first, l.end(), stamp() + " Dimensione di controllo " + path + " " + size), l.end());
    }
    EXPECT_EQ(lines_with(list, "Dimensione File allegato differente"), 0);
}

TEST_F(SizeGuardScan, NewMessagesFoundTogetherShareOneWait) {
    constexpr int kMessages = 10;
    for (int i = 0; i < kMessages; ++i)
        write_message("AB." + std::to_string(200 + i), header("R" + std::to_string(i), "a@x.it", {"A.PDF"}), "b",
                      {"nuovo"});
    scan();
    ASSERT_EQ(delivered.size(), static_cast<std::size_t>(kMessages)) << dump();
    // Two seconds for all of them, not two for each.
    EXPECT_EQ(clock.slept_ms(), 2000);
    EXPECT_EQ(lines_with(list, " Dimensione iniziale "), kMessages);
    EXPECT_EQ(lines_with(list, " Dimensione di controllo "), kMessages);
}

TEST_F(SizeGuardScan, AFileChangedOneSecondAgoWaitsOnlyForTheRest) {
    write_message("AB.300", header("R300", "a@x.it", {"A.PDF"}), "b", {"quasi"});
    clock.files_unchanged_for(spool, 1200);
    scan();
    ASSERT_EQ(delivered.size(), 1u) << dump();
    EXPECT_EQ(clock.slept_ms(), 800);
}

TEST(SizeGuard, ATimeAheadOfTheLookCountsFromTheLook) {
    using Look = spool::SizeGuard::Look;
    Look first;
    first.present = true;
    first.at = 10000;
    first.changed = 9000;
    Look later = first;
    later.at = 10500;
    EXPECT_EQ(spool::SizeGuard::remaining_ms(first, later), 500);
    later.at = 11000;
    EXPECT_EQ(spool::SizeGuard::remaining_ms(first, later), 0);
    // The file system's clock went back after the write: its change time
    // proves nothing, the two seconds run from the first look.
    first.changed = 50000;
    later = first;
    later.at = 11000;
    EXPECT_EQ(spool::SizeGuard::remaining_ms(first, later), 1000);
    EXPECT_FALSE(spool::SizeGuard::judged(Look{}));
}

}  // namespace
}  // namespace velarion::testing
