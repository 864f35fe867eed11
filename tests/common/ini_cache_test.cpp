#include "common/ini_cache.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_support.h"

namespace velarion {
namespace {

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
    const auto first = cache.get(path);
    ASSERT_TRUE(first->read);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(cache.get(path), first);
    EXPECT_EQ(cache.reads(), 2);

    write_file(path, "[A]\nbold=n\n[B]\n");  // edited in place
    const auto second = cache.get(path);
    EXPECT_NE(second, first);
    EXPECT_NE(second->section("B"), nullptr);
    EXPECT_EQ(first->section("B"), nullptr);  // a holder of the old version keeps it
    EXPECT_EQ(cache.reads(), 3);

    write_file(dir / "new.ini", "[C]\n");
    std::filesystem::rename(dir / "new.ini", path);  // replaced whole: another inode
    EXPECT_NE(cache.get(path)->section("C"), nullptr);
    EXPECT_EQ(cache.reads(), 4);

    std::filesystem::remove(path);
    EXPECT_FALSE(cache.get(path)->read);
    EXPECT_EQ(cache.reads(), 5);
}

}  // namespace
}  // namespace velarion
