#include "platform/ini_file.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace velarion {
namespace {

using testing::TempDir;
using testing::write_file;

TEST(IniFile, NamesIgnoreCaseAndMissingReadsDefault) {
    TempDir dir;
    const std::string path = dir / "velarion.ini";
    write_file(path, "[AB]\nTipoInvio=SEMPRE SAVE\nunione_dir=/m\n[GLOBAL]\nTiming=1000\n");
    EXPECT_EQ(ini::read("ab", "tipoinvio", "", path), "SEMPRE SAVE");
    EXPECT_EQ(ini::read("AB", "unione_DIR", "", path), "/m");
    EXPECT_EQ(ini::read("AB", "missing", "def", path), "def");
    EXPECT_EQ(ini::read("ZZ", "Timing", "", path), "");
    EXPECT_EQ(ini::read("GLOBAL", "Timing", "", dir / "absent.ini"), "");
}

TEST(IniFile, LongValueIsCutAt1023) {
    TempDir dir;
    const std::string path = dir / "v.ini";
    ASSERT_TRUE(ini::write("S", std::string("k"), std::string(1500, 'x'), path));
    EXPECT_EQ(ini::read("S", "k", "", path).size(), 1023u);
}

TEST(IniFile, KeyListDeleteKeyAndSection) {
    TempDir dir;
    const std::string path = dir / "v.ini";
    ASSERT_TRUE(ini::write("S", std::string("one"), std::string("1"), path));
    ASSERT_TRUE(ini::write("S", std::string("two"), std::string("2"), path));
    ASSERT_TRUE(ini::write("T", std::string("x"), std::string("y"), path));
    EXPECT_EQ(ini::read_keys("s", path), std::string("one\0two\0", 8));
    ASSERT_TRUE(ini::write("S", std::string("ONE"), std::nullopt, path));
    EXPECT_EQ(ini::read_keys("S", path), std::string("two\0", 4));
    ASSERT_TRUE(ini::write("s", std::nullopt, std::nullopt, path));
    EXPECT_EQ(ini::read_keys("S", path), "");
    EXPECT_EQ(ini::read("T", "x", "", path), "y");
    // Entries are written as key=value, without blanks around the equals sign.
    EXPECT_NE(testing::read_file(path).find("[T]\nx=y\n"), std::string::npos) << testing::read_file(path);
}

TEST(IniFile, WriteIntoMissingFolderFails) {
    TempDir dir;
    EXPECT_FALSE(ini::write("S", std::string("k"), std::string("v"), dir / "no/such/dir.ini"));
}

}  // namespace
}  // namespace velarion
