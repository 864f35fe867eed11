// The zip program of the fax path, run as the delivery runs it.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/os/process.h"
#include "spool/shell_wait.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace velarion::testing {
namespace {

const std::string kPkzip = std::string(VELARION_BIN_DIR) + "/pkzip";

std::string entries(const std::string& archive) {
    auto out = process::run_capture({"unzip", "-Z1", archive});
    return out ? *out : "<unreadable>";
}

TEST(Pkzip, MakesAnArchiveFromTheDeliveryCommandLine) {
    TempDir dir;
    write_file(dir / "000123.pdf", "%PDF-1.4 contenuto");
    // Program, two blanks, archive path, file path.
    EXPECT_EQ(shell_wait(kPkzip + "  " + dir.path() + "000123.zip " + dir.path() + "000123.pdf"), 0);
    EXPECT_EQ(entries(dir / "000123.zip"), "000123.pdf\n");
    auto text = process::run_capture({"unzip", "-p", dir / "000123.zip", "000123.pdf"});
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, "%PDF-1.4 contenuto");

    // A second file joins the archive; the same name again replaces its entry.
    write_file(dir / "000124.pdf", "altro");
    EXPECT_EQ(shell_wait({kPkzip, dir / "000123.zip", dir / "000124.pdf"}), 0);
    EXPECT_EQ(shell_wait({kPkzip, dir / "000123.zip", dir / "000124.pdf"}), 0);
    EXPECT_EQ(entries(dir / "000123.zip"), "000123.pdf\n000124.pdf\n");
}

TEST(Pkzip, FailsWithoutWritingAnArchive) {
    TempDir dir;
    EXPECT_NE(shell_wait({kPkzip, dir / "x.zip", dir / "missing.pdf"}), 0);
    EXPECT_FALSE(fs::exists(dir / "x.zip"));
    write_file(dir / "a.pdf", "a");
    EXPECT_NE(shell_wait({kPkzip, dir / "no/such/dir/x.zip", dir / "a.pdf"}), 0);
    EXPECT_NE(shell_wait({kPkzip, dir / "x.zip"}), 0);
    EXPECT_FALSE(fs::exists(dir / "x.zip"));
}

TEST(Pkzip, HelpAndVersionComeBeforeTheArchiveArguments) {
    TempDir dir;
    write_file(dir / "a.pdf", "a");
    const auto help = process::run_capture({kPkzip, dir / "x.zip", "--help", dir / "a.pdf"});
    ASSERT_TRUE(help);
    EXPECT_EQ(help->rfind("Usage: pkzip ARCHIVE.zip FILE\n", 0), 0u) << *help;
    const auto version = process::run_capture({kPkzip, "--version"});
    ASSERT_TRUE(version);
    EXPECT_EQ(*version, "pkzip (Velarion) " VELARION_VERSION "\n");
    EXPECT_FALSE(fs::exists(dir / "x.zip"));  // nothing else was done
}

}  // namespace
}  // namespace velarion::testing
