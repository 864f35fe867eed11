// This agent's counts of the day: kept open between counts, one file per
// day and work folder, and a file removed meanwhile made anew.
#include <gtest/gtest.h>

#include <filesystem>

#include "spool/day_counts.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace velarion::spool {
namespace {

TEST(DayCounts, CountsGrowPerDayAndWorkFolderAndARemovedFileIsMadeAnew) {
    testing::TempDir a, b;
    count_today(a.path(), 20261210, Counted::delivered);
    count_today(a.path(), 20261210, Counted::delivered);
    count_today(a.path(), 20261210, Counted::parked);
    count_today(b.path(), 20261210, Counted::saved);
    count_today(a.path(), 20261211, Counted::deferred);
    count_today(a.path(), 20261210, Counted::delivered);  // the day before, opened again

    DayCounts c = read_day_counts(a.path(), 20261210);
    EXPECT_EQ(c.delivered, 3);
    EXPECT_EQ(c.parked, 1);
    EXPECT_EQ(c.saved, 0);
    EXPECT_EQ(read_day_counts(a.path(), 20261211).deferred, 1);
    EXPECT_EQ(read_day_counts(b.path(), 20261210).saved, 1);

    // Removed while kept open: the next count goes to a file made anew.
    fs::remove_all(a.path() + "conteggi");
    count_today(a.path(), 20261210, Counted::bounced);
    c = read_day_counts(a.path(), 20261210);
    EXPECT_EQ(c.bounced, 1);
    EXPECT_EQ(c.delivered, 0);
}

}  // namespace
}  // namespace velarion::spool
