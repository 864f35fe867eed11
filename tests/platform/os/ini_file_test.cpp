#include "platform/os/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

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

// The whole file in one read: the values the single reads give, with the
// line each came from, and a stamp that tells another version of the file.
TEST(IniFile, ReadAllKeepsValuesLinesAndTheFilesVersion) {
    TempDir dir;
    const std::string path = dir / "loghi.ini";
    write_file(path, "; styles\r\n[FATT]\r\nRiga = 40\r\n\r\n[altro]\r\nx=1\r\n[fatt]\r\nriga=41\r\ncol=" +
                         std::string(1100, 'v') + "\r\n");
    const ini::IniContents c = ini::read_all(path);
    ASSERT_TRUE(c.read);
    ASSERT_EQ(c.sections.size(), 2u);  // a section written twice is one
    const ini::IniSection* fatt = c.section("FATT");
    ASSERT_TRUE(fatt);
    EXPECT_EQ(fatt->line, 2);
    ASSERT_EQ(fatt->entries.size(), 2u);
    EXPECT_EQ(fatt->entries[0].key, "Riga");
    EXPECT_EQ(fatt->entries[0].value, ini::read("FATT", "riga", "", path));  // the last one written
    EXPECT_EQ(fatt->entries[0].line, 8);
    EXPECT_EQ(fatt->entries[1].value.size(), 1023u);
    EXPECT_EQ(c.section("ALTRO")->entries[0].line, 6);
    EXPECT_FALSE(c.section("nessuno"));
    ASSERT_TRUE(ini::stamp_of(path));
    EXPECT_EQ(*ini::stamp_of(path), c.stamp);
    write_file(path, "[FATT]\nriga=42\n");
    EXPECT_NE(*ini::stamp_of(path), c.stamp);
    EXPECT_FALSE(ini::read_all(dir / "absent.ini").read);
    EXPECT_FALSE(ini::stamp_of(dir.path()));  // a folder is no file
}

TEST(IniFile, AFolderOrAFifoNamedAsTheFileReadsTheDefaultAtOnce) {
    // Found by fuzzing the styles: "filebarcode_ini=///" named the root
    // folder, whose length the INI library took as the size to allocate.
    TempDir dir;
    EXPECT_EQ(ini::read("S", "k", "def", "///"), "def");
    EXPECT_TRUE(ini::key_names("S", dir.path()).empty());
    const std::string fifo = dir / "fifo.ini";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(ini::read("S", "k", "def", fifo), "def");  // no writer: it must not wait for one
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

TEST(IniFile, WritesChangeOnlyTheirLines) {
    TempDir dir;
    const std::string path = dir / "velarion.ini";
    // A file from a Windows installation: CR LF, Windows-1252, comments and blank lines.
    const std::string before =
        "; configurazione \xE8 \x80\r\n[AB]\r\nPath=C:\\spool\r\nsend_dir = /srv/inviati\r\n\r\n"
        "[GLOBAL]\r\nTiming=1000\r\n";
    write_file(path, before);
    ::chmod(path.c_str(), 0600);  // it holds passwords
    ASSERT_TRUE(ini::write("ab", std::string("SEND_DIR"), std::string("/srv/salvati \xE0"), path));
    ASSERT_TRUE(ini::write("AB", std::string("pwd_email"), std::string("segreta"), path));
    ASSERT_TRUE(ini::write("CDO", std::string("smtport"), std::string("587"), path));
    EXPECT_EQ(testing::read_file(path),
              "; configurazione \xE8 \x80\r\n[AB]\r\nPath=C:\\spool\r\nsend_dir=/srv/salvati \xE0\r\n"
              "pwd_email=segreta\r\n\r\n[GLOBAL]\r\nTiming=1000\r\n[CDO]\r\nsmtport=587\r\n");
    EXPECT_EQ(ini::read("AB", "send_dir", "", path), "/srv/salvati \xE0");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // Deleting a key and a section removes their lines only.
    ASSERT_TRUE(ini::write("AB", std::string("pwd_email"), std::nullopt, path));
    ASSERT_TRUE(ini::write("CDO", std::nullopt, std::nullopt, path));
    EXPECT_EQ(testing::read_file(path),
              "; configurazione \xE8 \x80\r\n[AB]\r\nPath=C:\\spool\r\nsend_dir=/srv/salvati \xE0\r\n\r\n"
              "[GLOBAL]\r\nTiming=1000\r\n");
    // A line break in a value makes no key of its own.
    ASSERT_TRUE(ini::write("AB", std::string("EMailAddr"), std::string("a@x.it\r\nPath=/etc"), path));
    EXPECT_EQ(ini::read("AB", "Path", "", path), "C:\\spool");
    // Nothing is left beside the file.
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) files += e.is_regular_file();
    EXPECT_EQ(files, 1);
}

TEST(IniFile, ALinkedFileStaysLinked) {
    TempDir dir;
    write_file(dir / "etc/velarion.ini", "[AB]\nPath=/a\n");
    std::filesystem::create_symlink(dir / "etc/velarion.ini", dir / "velarion.ini");
    ASSERT_TRUE(ini::write("AB", std::string("Path"), std::string("/b"), dir / "velarion.ini"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "velarion.ini"));
    EXPECT_EQ(testing::read_file(dir / "etc/velarion.ini"), "[AB]\nPath=/b\n");
}

TEST(IniFile, WriteIntoMissingFolderFails) {
    TempDir dir;
    EXPECT_FALSE(ini::write("S", std::string("k"), std::string("v"), dir / "no/such/dir.ini"));
}

}  // namespace
}  // namespace velarion
