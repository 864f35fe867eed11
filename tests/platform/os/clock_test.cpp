// The file system's clock that the size check of spool files judges ages by.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <string>

#include "platform/os/clock.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace velarion::testing {
namespace {

TEST(FileSystemClock, TellsTheTimeByTheStampAndSeesEveryWrite) {
    TempDir dir;
    SystemClock clock;
    const std::string stamp = dir / "stamp", file = dir / "file";
    // A stamp that is not there is not made.
    EXPECT_EQ(clock.file_system_now_ms(stamp), -1);
    EXPECT_FALSE(fs::exists(stamp));
    EXPECT_EQ(clock.file_changed_ms(file), -1);
    write_file(stamp, "");
    write_file(file, "dati");
    const long long now = clock.file_system_now_ms(stamp);
    ASSERT_GT(now, 0);
    // A writer that puts back an old modification time (cp -p) does not make
    // the file look old: its change time follows the write.
    const timespec an_hour_ago[2] = {{0, UTIME_OMIT}, {time(nullptr) - 3600, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), an_hour_ago, 0), 0);
    EXPECT_GE(clock.file_changed_ms(file), now - 1000);
    EXPECT_LE(clock.file_changed_ms(file), clock.file_system_now_ms(stamp) + 2000);
}

}  // namespace
}  // namespace velarion::testing
