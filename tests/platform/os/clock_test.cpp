// The file system's clock that the size check of spool files judges ages by.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
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

// The system zone read once gives the same local times as glibc's own look
// at /etc/localtime, summer and winter; a zone the user set is kept.
TEST(TimeZone, ReadOnceIsTheSystemZone) {
    const char* before = std::getenv("TZ");
    const std::string saved = before ? before : "";
    auto local = [](std::time_t t) {
        std::tm tm{};
        localtime_r(&t, &tm);
        return std::to_string(tm.tm_hour) + ":" + std::to_string(tm.tm_gmtoff) + ":" + std::to_string(tm.tm_mday);
    };
    const std::time_t winter = 1768478400, summer = 1784116800;  // 15 January and 15 July 2026, 12:00 UTC
    ::unsetenv("TZ");
    ::tzset();
    const std::string system_winter = local(winter), system_summer = local(summer);
    read_time_zone_once();
    EXPECT_STREQ(std::getenv("TZ"), ":/etc/localtime");
    EXPECT_EQ(local(winter), system_winter);
    EXPECT_EQ(local(summer), system_summer);
    ::setenv("TZ", "Europe/Rome", 1);
    read_time_zone_once();
    EXPECT_STREQ(std::getenv("TZ"), "Europe/Rome");
    if (before)
        ::setenv("TZ", saved.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}

}  // namespace
}  // namespace velarion::testing
