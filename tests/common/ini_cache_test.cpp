#include "common/ini_cache.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_support.h"

namespace velarion {
namespace {

using testing::settle;
using testing::TempDir;
using testing::write_file;

// Read once while unchanged; read again when another version is in place
// (edited in place, or replaced by a rename); a missing file is looked at
// again and read once it appears.
TEST(IniCache, ReadOnceUntilTheFileChanges) {
    TempDir dir;
    const std::string path = dir / "loghi.ini";
    IniCache cache;
    EXPECT_FALSE(cache.get(path)->read);
    EXPECT_FALSE(cache.get(path)->read);
    EXPECT_EQ(cache.reads(), 1);

    write_file(path, "[A]\nbold=y\n");
    settle(path);
    const auto first = cache.get(path);
    ASSERT_TRUE(first->read);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(cache.get(path), first);
    EXPECT_EQ(cache.reads(), 2);

    write_file(path, "[A]\nbold=n\n[B]\n");  // edited in place
    settle(path);
    const auto second = cache.get(path);
    EXPECT_NE(second, first);
    EXPECT_NE(second->section("B"), nullptr);
    EXPECT_EQ(first->section("B"), nullptr);  // a holder of the old version keeps it
    EXPECT_EQ(cache.reads(), 3);

    write_file(dir / "new.ini", "[C]\n");
    settle(dir / "new.ini");
    std::filesystem::rename(dir / "new.ini", path);  // replaced whole: another inode
    EXPECT_NE(cache.get(path)->section("C"), nullptr);
    EXPECT_EQ(cache.reads(), 4);

    std::filesystem::remove(path);
    EXPECT_FALSE(cache.get(path)->read);
    EXPECT_EQ(cache.reads(), 5);
}

// A file modified just before it was read may change again within the same
// tick of the file system's clock, keeping size and stamp: it is read again
// until it has settled. An edit that keeps the size and the time is then seen.
TEST(IniCache, AFreshFileIsReadAgainUntilItSettles) {
    TempDir dir;
    const std::string path = dir / "loghi.ini";
    IniCache cache;
    write_file(path, "[A]\nbold=y\n");
    const auto when = std::filesystem::last_write_time(path);
    cache.get(path);
    cache.get(path);
    EXPECT_EQ(cache.reads(), 2);

    write_file(path, "[A]\nbold=n\n");  // same size, and the same time
    std::filesystem::last_write_time(path, when);
    EXPECT_NE(cache.get(path)->section("A")->entries[0].value, "y");
}

}  // namespace
}  // namespace velarion
