#include "common/run_log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "support/tmpfs_mount.h"

namespace velarion {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::TempDir;
using testing::TestContext;
using testing::write_file;

TEST(RunLog, FileNamesUseItalianWeekdays) {
    // 6 December 2026 is a Sunday.
    const char* expected[] = {"velarion_log_dom_06.txt", "velarion_log_lun_07.txt", "velarion_log_mar_08.txt",
                              "velarion_log_mer_09.txt", "velarion_log_gio_10.txt", "velarion_log_ven_11.txt",
                              "velarion_log_sab_12.txt"};
    for (int d = 0; d < 7; ++d) EXPECT_EQ(log_file_name(make_datetime(2026, 12, 6 + d)), expected[d]);
}

TEST(RunLog, MondayTheEighthRotatesTheWeek) {
    TempDir dir;
    const std::string log = dir / "tempozip/log/";
    write_file(log + "velarion_log_lun_01.txt", "old monday\n");
    write_file(log + "velarion_log_mar_02.txt", "tuesday\n");
    write_file(log + "velarion_log_lun_08.txt", "earlier today\n");
    TestContext t(make_datetime(2027, 3, 8, 9, 0, 0));  // 8 March 2027 is a Monday
    t.cfg.op.tempozip_dir = dir / "tempozip";
    t.cfg.derive();
    t.list.add(" one");
    t.list.add(" two");
    flush_log(t.rt);

    EXPECT_FALSE(fs::exists(log + "velarion_log_lun_01.txt"));
    EXPECT_EQ(read_file(log + "velarion_log_mar_02.txt"), "tuesday\n");
    EXPECT_EQ(read_file(log + "velarion_log_lun_08.txt"),
              "earlier today\n08/03/2027 09:00:00 one\n08/03/2027 09:00:00 two\n");
    EXPECT_EQ(t.list.size(), 0u);

    // A second flush the same day appends; an empty list still opens the file.
    t.list.add(" three");
    flush_log(t.rt);
    flush_log(t.rt);
    EXPECT_EQ(read_file(log + "velarion_log_lun_08.txt"),
              "earlier today\n08/03/2027 09:00:00 one\n08/03/2027 09:00:00 two\n08/03/2027 09:00:00 three\n");
}

TEST(RunLog, LinesAreCleanAndLinksAreNotFollowed) {
    TempDir dir;
    TestContext t(make_datetime(2026, 12, 9, 9, 0, 0));
    t.cfg.op.tempozip_dir = dir / "tempozip/";
    t.cfg.derive();
    // A spool name with a line feed, an escape and a CR; Windows-1252 bytes stay.
    t.list.add(" Dimensione iniziale AB.1\n09/12/2026 09:00:00 Inviato FALSO\x1b[2J\r \x80 \xE8");
    t.list.add_raw(std::string("riga\0grezza", 11));
    t.view.message_box("Riga uno\nRiga due\x1b[31m\r");
    EXPECT_EQ(t.list.lines()[0],
              "09/12/2026 09:00:00 Dimensione iniziale AB.1?09/12/2026 09:00:00 Inviato FALSO?[2J? \x80 \xE8");
    EXPECT_EQ(t.list.lines()[1], "riga?grezza");
    EXPECT_EQ(t.view.boxes.back(), "Riga uno\nRiga due?[31m?");  // the program's own line break stays

    // The log folder is a link to another folder: nothing is written there.
    write_file(dir / "altrove/velarion_log_mer_09.txt", "altro\n");
    fs::create_directories(dir / "tempozip");
    fs::create_symlink(dir / "altrove", dir / "tempozip/log");
    flush_log(t.rt);
    EXPECT_EQ(read_file(dir / "altrove/velarion_log_mer_09.txt"), "altro\n");
    EXPECT_EQ(t.list.size(), 2u);  // the lines wait

    // Today's file is a link: not written through either.
    fs::remove(dir / "tempozip/log");
    fs::create_directories(dir / "tempozip/log");
    fs::create_symlink(dir / "altrove/velarion_log_mer_09.txt", dir / "tempozip/log/velarion_log_mer_09.txt");
    flush_log(t.rt);
    EXPECT_EQ(read_file(dir / "altrove/velarion_log_mer_09.txt"), "altro\n");

    fs::remove(dir / "tempozip/log/velarion_log_mer_09.txt");
    flush_log(t.rt);
    const std::string log = read_file(dir / "tempozip/log/velarion_log_mer_09.txt");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;  // two lines, none forged
    EXPECT_EQ(t.list.size(), 0u);
}

TEST(RunLog, EmptyListCreatesFolderAndFile) {
    TempDir dir;
    TestContext t(make_datetime(2026, 12, 9));
    t.cfg.op.tempozip_dir = dir / "tempozip\\";  // a Windows separator at the end
    t.cfg.derive();
    flush_log(t.rt);
    EXPECT_TRUE(fs::exists(dir / "tempozip/log/velarion_log_mer_09.txt"));
}

TEST(RunLog, NoWorkDirectoryKeepsTheLines) {
    TestContext t;
    t.list.add(" kept");
    flush_log(t.rt);
    EXPECT_EQ(t.list.size(), 1u);
}

TEST(RunLog, WindowsDriveIsNoFolderHere) {
    TempDir dir;
    const auto cwd = fs::current_path();
    fs::current_path(dir.path());
    TestContext t(make_datetime(2026, 12, 9));
    t.cfg.op.tempozip_dir = "C:\\Velarion\\tempozip\\";
    t.cfg.derive();
    t.list.add(" kept");
    flush_log(t.rt);
    fs::current_path(cwd);
    EXPECT_FALSE(fs::exists(dir / "C:"));
    EXPECT_EQ(t.list.size(), 1u);
}

TEST(RunLog, FailedWriteKeepsTheLinesForTheNextFlush) {
    if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    TempDir dir;
    TestContext t(make_datetime(2026, 12, 9));
    t.cfg.op.tempozip_dir = dir / "tempozip/";
    t.cfg.derive();
    fs::create_directories(dir / "tempozip/log");
    chmod((dir / "tempozip/log").c_str(), 0500);
    t.list.add(" first");
    flush_log(t.rt);
    EXPECT_EQ(t.list.size(), 1u);
    chmod((dir / "tempozip/log").c_str(), 0700);
    t.list.add(" second");
    flush_log(t.rt);
    EXPECT_EQ(t.list.size(), 0u);
    EXPECT_EQ(read_file(dir / "tempozip/log/velarion_log_mer_09.txt"),
              "09/12/2026 00:00:00 first\n09/12/2026 00:00:00 second\n");
}

TEST(RunLog, LogPathThatIsAFileKeepsTheLines) {
    // Works as root too: "log" is a file, so no log file can be opened below it.
    TempDir dir;
    write_file(dir / "tempozip/log", "not a folder");
    TestContext t(make_datetime(2026, 12, 9));
    t.cfg.op.tempozip_dir = dir / "tempozip";
    t.cfg.derive();
    t.list.add(" kept");
    flush_log(t.rt);
    EXPECT_EQ(t.list.size(), 1u);
}

TEST(RunLog, KeptFileRemovedRenamedOrReplacedGetsTheLinesRightly) {
    TempDir dir;
    TestContext t(make_datetime(2026, 12, 9, 9, 0, 0));
    t.cfg.op.tempozip_dir = dir / "tempozip/";
    t.cfg.derive();
    const std::string log = dir / "tempozip/log/velarion_log_mer_09.txt";
    t.list.add(" one");
    flush_log(t.rt);
    EXPECT_EQ(read_file(log), "09/12/2026 09:00:00 one\n");

    // The whole log folder removed: its lines go to a new file in a new folder.
    fs::remove_all(dir / "tempozip/log");
    t.list.add(" two");
    flush_log(t.rt);
    EXPECT_EQ(read_file(log), "09/12/2026 09:00:00 two\n");
    EXPECT_EQ(t.list.size(), 0u);

    // Removed, or replaced by a rename over it: the next line goes to a new
    // file at once, never into the one that is gone.
    fs::remove(log);
    t.list.add(" tre");
    flush_log(t.rt);
    EXPECT_EQ(read_file(log), "09/12/2026 09:00:00 tre\n");
    write_file(dir / "tempozip/log/altro.txt", "altro\n");
    fs::rename(dir / "tempozip/log/altro.txt", log);
    t.list.add(" quattro");
    flush_log(t.rt);
    EXPECT_EQ(read_file(log), "altro\n09/12/2026 09:00:00 quattro\n");

    // Renamed away: the renamed file keeps the lines of that second at most
    // (none is lost); then the file of that name is made again.
    fs::rename(log, dir / "tempozip/log/vecchio.txt");
    t.list.add(" cinque");
    flush_log(t.rt);
    t.clock.set(make_datetime(2026, 12, 9, 9, 0, 2));
    t.list.add(" three");
    flush_log(t.rt);
    EXPECT_EQ(read_file(log), "09/12/2026 09:00:02 three\n");
    EXPECT_EQ(read_file(dir / "tempozip/log/vecchio.txt"),
              "altro\n09/12/2026 09:00:00 quattro\n09/12/2026 09:00:00 cinque\n");

    // Its folder renamed away: the same.
    fs::rename(dir / "tempozip/log", dir / "tempozip/log.vecchio");
    t.clock.set(make_datetime(2026, 12, 9, 9, 0, 4));
    t.list.add(" sei");
    flush_log(t.rt);
    EXPECT_EQ(read_file(log), "09/12/2026 09:00:04 sei\n");
    fs::remove_all(dir / "tempozip/log.vecchio");

    // A link put in its place is not written through; the lines wait.
    write_file(dir / "altrove.txt", "altro\n");
    fs::remove(log);
    fs::create_symlink(dir / "altrove.txt", log);
    t.list.add(" four");
    flush_log(t.rt);
    EXPECT_EQ(read_file(dir / "altrove.txt"), "altro\n");
    EXPECT_EQ(t.list.size(), 1u);
    fs::remove(log);
    flush_log(t.rt);
    EXPECT_EQ(read_file(log), "09/12/2026 09:00:04 four\n");
    EXPECT_EQ(t.list.size(), 0u);
}


TEST(RunLog, AFullFileSystemKeepsTheLinesAndWritesThemOnce) {
    testing::SmallTmpfs fs_small(256 * 1024);
    if (!fs_small.skip_reason().empty()) GTEST_SKIP() << fs_small.skip_reason();
    TestContext t(make_datetime(2026, 12, 9, 9, 0, 0));
    t.cfg.op.tempozip_dir = fs_small.path() + "tempozip/";
    t.cfg.derive();
    const std::string log = fs_small.path() + "tempozip/log/velarion_log_mer_09.txt";
    t.list.add(" uno");
    flush_log(t.rt);  // the file is open now, and kept

    fs_small.fill();
    t.list.add(" " + std::string(8192, 'x'));  // cut to the longest line the list keeps
    t.list.add(" tre");
    std::string expected = "09/12/2026 09:00:00 uno\n";
    for (const auto& line : t.list.lines()) expected += line + "\n";
    flush_log(t.rt);
    EXPECT_EQ(t.list.size(), 2u);
    EXPECT_EQ(read_file(log), "09/12/2026 09:00:00 uno\n");  // nothing of a write cut short

    fs_small.free_space();
    flush_log(t.rt);
    EXPECT_EQ(t.list.size(), 0u);
    EXPECT_TRUE(read_file(log) == expected);  // each line once, in order
}

}  // namespace
}  // namespace velarion
