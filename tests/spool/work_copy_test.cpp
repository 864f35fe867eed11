// A message's work copies written in place: whatever held the name before
// (a copy of an earlier run, a link planted there) is replaced and never
// written through, a folder of that name stops the copy with a reason, and a
// spool source that is a link or a FIFO is not read.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>

#include "spool/work_copy.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace velarion::testing {
namespace {

// The error code a copy throws with (0: none).
int copy_error(const std::function<void()>& copy) {
    try {
        copy();
    } catch (const fs::filesystem_error& e) {
        return e.code().value();
    }
    return 0;
}

TEST(WorkCopy, WhatHeldTheNameIsReplacedNeverWrittenThrough) {
    TempDir dir;
    const std::string work = dir / "tempozip/";
    write_file(dir / "segreto.txt", "SEGRETO");
    write_file(work + "AB.1.h", "copia di un giro precedente");
    fs::create_symlink(dir / "segreto.txt", work + "AB.1.b");
    fs::create_symlink(dir / "nessuno.txt", work + "AB.1.h_261210");  // a link to nothing
    write_file(dir / "spool/AB.1.0", "RIGA;1\r\n");

    spool::WorkCopies copies(work);
    copies.write("AB.1.h", "intestazione\r\n", dir / "spool/AB.1.h");
    copies.write("AB.1.b", "testo\r\n", dir / "spool/AB.1.b");
    copies.write("AB.1.h_261210", "intestazione\r\n", work + "AB.1.h");
    const spool::SpoolSource source = spool::open_source(dir / "spool/AB.1.0", work + "AB.1.0");
    const safe_path::Fd copy = copies.copy("AB.1.0", source.fd, dir / "spool/AB.1.0");
    copies.copy("AB.1.0_261210", copy, work + "AB.1.0");

    EXPECT_EQ(read_file(work + "AB.1.h"), "intestazione\r\n");
    EXPECT_EQ(read_file(work + "AB.1.b"), "testo\r\n");
    EXPECT_FALSE(fs::is_symlink(work + "AB.1.b"));
    EXPECT_FALSE(fs::is_symlink(work + "AB.1.h_261210"));
    EXPECT_FALSE(fs::exists(dir / "nessuno.txt"));
    EXPECT_EQ(read_file(dir / "segreto.txt"), "SEGRETO");
    EXPECT_EQ(read_file(work + "AB.1.0"), "RIGA;1\r\n");
    EXPECT_EQ(read_file(work + "AB.1.0_261210"), "RIGA;1\r\n");
}

TEST(WorkCopy, AFolderInItsPlaceOrNoWorkFolderStopsTheCopyWithAReason) {
    TempDir dir;
    const std::string work = dir / "tempozip/";
    fs::create_directories(work + "AB.2.h/dentro");
    spool::WorkCopies copies(work);
    EXPECT_EQ(copy_error([&] { copies.write("AB.2.h", "x", dir / "spool/AB.2.h"); }), EINVAL);
    EXPECT_TRUE(fs::is_directory(work + "AB.2.h/dentro"));

    spool::WorkCopies gone(dir / "mancante/");
    EXPECT_EQ(copy_error([&] { gone.write("AB.2.b", "x", dir / "spool/AB.2.b"); }), ENOENT);
    EXPECT_FALSE(fs::exists(dir / "mancante"));
}

TEST(WorkCopy, ASpoolSourceThatIsALinkOrAFifoIsNotRead) {
    TempDir dir;
    write_file(dir / "segreto.txt", "SEGRETO");
    fs::create_directories(dir / "spool");
    fs::create_symlink(dir / "segreto.txt", dir / "spool/AB.3.h");
    ASSERT_EQ(::mkfifo((dir / "spool/AB.3.0").c_str(), 0600), 0);  // no writer: opening it must not wait
    EXPECT_EQ(copy_error([&] { spool::open_source(dir / "spool/AB.3.h", dir / "AB.3.h"); }), ELOOP);
    EXPECT_EQ(copy_error([&] { spool::open_source(dir / "spool/AB.3.0", dir / "AB.3.0"); }), ENOENT);

    // A plain source is read whole, within its bound.
    write_file(dir / "spool/AB.3.b", "testo\r\n");
    const spool::SpoolSource source = spool::open_source(dir / "spool/AB.3.b", dir / "AB.3.b");
    EXPECT_EQ(spool::read_source(source, 100), "testo\r\n");
    EXPECT_EQ(spool::read_source(source, 3), std::nullopt);
}

}  // namespace
}  // namespace velarion::testing
