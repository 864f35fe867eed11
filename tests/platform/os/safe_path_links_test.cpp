#include "platform/os/safe_path.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "support/test_support.h"

namespace velarion {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

// A link on the way that does not lead anywhere yet passes the check of the
// real location (as the folder an intruder makes later to point outside);
// the open itself must refuse it, whether the kernel resolves the path
// (openat2) or the folders are walked one by one (VELARION_NO_OPENAT2, the
// second ctest run of these tests).
TEST(SafePathLinks, ADanglingFolderLinkOnTheWayIsRefusedNotTakenForMissing) {
    TempDir dir;
    const std::string root = dir / "root";
    fs::create_directories(root + "/sub");
    fs::create_directories(dir / "outside");
    fs::create_symlink(dir / "outside/later", root + "/sub/later");
    const std::vector<std::string> roots = {root};

    EXPECT_TRUE(safe_path::is_below(root + "/sub/later/x.txt", roots));
    EXPECT_EQ(safe_path::open_below(root + "/sub/later/x.txt", roots).status, safe_path::Status::refused);
    EXPECT_FALSE(safe_path::open_folder_below(root + "/sub/later", roots, true).valid());
    EXPECT_FALSE(safe_path::write_below(root + "/sub/later/deep/x.pdf", "PDF", roots, true));
    EXPECT_FALSE(fs::exists(dir / "outside/later"));

    // Once the link leads outside, the real location is outside.
    write_file(dir / "outside/later/x.txt", "SEGRETO");
    EXPECT_EQ(safe_path::open_below(root + "/sub/later/x.txt", roots).status, safe_path::Status::refused);

    // Deep paths below the root open in one go; a file in the middle is no folder.
    write_file(root + "/sub/a/b/c/in.txt", "dentro");
    EXPECT_EQ(safe_path::open_below(root + "/sub/a/b/c/in.txt", roots).status, safe_path::Status::ok);
    EXPECT_EQ(safe_path::open_below(root + "/sub/a/b/c/in.txt/x", roots).status, safe_path::Status::refused);
    EXPECT_EQ(safe_path::open_below(root + "/sub/a/none/in.txt", roots).status, safe_path::Status::missing);
    ASSERT_TRUE(safe_path::write_below(root + "/sub/a/new/x.pdf", "PDF", roots, true));
    EXPECT_EQ(read_file(root + "/sub/a/new/x.pdf"), "PDF");
    EXPECT_TRUE(safe_path::open_folder_below(root, roots, false).valid());
}

// A folder or file swapped for a link after the path was first opened: the
// quick open (the path lies below the root as written) meets the link and
// leaves the judgement to the real location, which refuses a link leading
// outside and allows one that stays inside the root, as ever.
TEST(SafePathLinks, ALinkSwappedIntoThePathIsJudgedByWhereItLeads) {
    TempDir dir;
    const std::string root = dir / "root";
    write_file(root + "/a/b/doc.txt", "dentro");
    write_file(root + "/c/doc.txt", "altrove dentro");
    write_file(dir / "outside/b/doc.txt", "SEGRETO");
    const std::vector<std::string> roots = {root + "/"};
    ASSERT_EQ(safe_path::open_below(root + "/a/b/doc.txt", roots).status, safe_path::Status::ok);

    // In the middle, leading outside.
    fs::rename(root + "/a/b", root + "/a/old");
    fs::create_symlink(dir / "outside/b", root + "/a/b");
    EXPECT_EQ(safe_path::open_below(root + "/a/b/doc.txt", roots).status, safe_path::Status::refused);
    EXPECT_EQ(safe_path::open_below(root + "/a/b/none.txt", roots).status, safe_path::Status::refused);
    EXPECT_FALSE(safe_path::is_below(root + "/a/b/doc.txt", roots));
    EXPECT_FALSE(safe_path::open_folder_below(root + "/a/b", roots, false).valid());
    EXPECT_FALSE(safe_path::write_below(root + "/a/b/doc.txt", "PDF", roots, true));
    EXPECT_FALSE(safe_path::write_below(root + "/a/b/new/x.pdf", "PDF", roots, true));
    EXPECT_FALSE(safe_path::append_below(root + "/a/b/doc.txt", "x", roots));
    EXPECT_FALSE(safe_path::copy_below(root + "/c/doc.txt", root + "/a/b/doc.txt", roots));
    EXPECT_EQ(read_file(dir / "outside/b/doc.txt"), "SEGRETO");
    EXPECT_FALSE(fs::exists(dir / "outside/b/new"));

    // In the middle, leading to another folder of the root.
    fs::remove(root + "/a/b");
    fs::create_symlink(root + "/c", root + "/a/b");
    auto inside = safe_path::open_below(root + "/a/b/doc.txt", roots);
    ASSERT_EQ(inside.status, safe_path::Status::ok);
    EXPECT_EQ(safe_path::read_whole(inside.fd), "altrove dentro");
    EXPECT_EQ(safe_path::open_below(root + "/a/b/none.txt", roots).status, safe_path::Status::missing);
    ASSERT_TRUE(safe_path::write_below(root + "/a/b/x.pdf", "PDF", roots));
    EXPECT_EQ(read_file(root + "/c/x.pdf"), "PDF");

    // At the end.
    fs::remove(root + "/a/b");
    fs::rename(root + "/a/old", root + "/a/b");
    fs::remove(root + "/a/b/doc.txt");
    fs::create_symlink(dir / "outside/b/doc.txt", root + "/a/b/doc.txt");
    EXPECT_EQ(safe_path::open_below(root + "/a/b/doc.txt", roots).status, safe_path::Status::refused);
    EXPECT_FALSE(safe_path::is_below(root + "/a/b/doc.txt", roots));
    EXPECT_FALSE(safe_path::append_below(root + "/a/b/doc.txt", "x", roots));
    EXPECT_EQ(read_file(dir / "outside/b/doc.txt"), "SEGRETO");
    fs::remove(root + "/a/b/doc.txt");
    fs::create_symlink(root + "/c/doc.txt", root + "/a/b/doc.txt");
    inside = safe_path::open_below(root + "/a/b/doc.txt", roots);
    ASSERT_EQ(inside.status, safe_path::Status::ok);
    EXPECT_EQ(safe_path::read_whole(inside.fd), "altrove dentro");

    // A second name of a file outside, and a FIFO, met by the quick open.
    ASSERT_EQ(::link((dir / "outside/b/doc.txt").c_str(), (root + "/a/hard.txt").c_str()), 0);
    EXPECT_EQ(safe_path::open_below(root + "/a/hard.txt", roots).status, safe_path::Status::refused);
    EXPECT_FALSE(safe_path::readable_below(root + "/a/hard.txt", roots));
    ASSERT_EQ(::mkfifo((root + "/a/fifo").c_str(), 0600), 0);
    EXPECT_EQ(safe_path::open_below(root + "/a/fifo", roots).status, safe_path::Status::refused);
    EXPECT_FALSE(safe_path::append_below(root + "/a/fifo", "x", roots));
}

// An installation whose folder is reached through a link: paths written
// through the link and through its real location both work, and whatever
// lies below is still held to the same rules. Nothing of the root is kept
// between calls: the link pointed elsewhere, or the folder removed and made
// again, counts at the next call.
TEST(SafePathLinks, ARootReachedThroughALinkIsFollowedWhereverItLeadsNow) {
    TempDir dir;
    const std::string real = dir / "data/spool", link = dir / "spool";
    write_file(real + "/in.txt", "dentro");
    write_file(dir / "outside/secret.txt", "SEGRETO");
    fs::create_symlink(real, link);
    fs::create_symlink(dir / "outside", real + "/out");
    const std::vector<std::string> roots = {link};

    for (const std::string& base : {link, real}) {
        SCOPED_TRACE(base);
        auto in = safe_path::open_below(base + "/in.txt", roots);
        ASSERT_EQ(in.status, safe_path::Status::ok);
        EXPECT_EQ(safe_path::read_whole(in.fd), "dentro");
        EXPECT_TRUE(safe_path::is_below(base + "/in.txt", roots));
        EXPECT_TRUE(safe_path::is_below(base, roots));
        EXPECT_TRUE(safe_path::open_folder_below(base, roots, false).valid());
        EXPECT_EQ(safe_path::open_below(base + "/none.txt", roots).status, safe_path::Status::missing);
        EXPECT_EQ(safe_path::open_below(base + "/out/secret.txt", roots).status, safe_path::Status::refused);
        EXPECT_FALSE(safe_path::write_below(base + "/out/x.pdf", "PDF", roots, true));
        ASSERT_TRUE(safe_path::write_below(base + "/new/x.pdf", "PDF", roots, true));
        ASSERT_TRUE(safe_path::append_below(base + "/log.txt", "riga\n", roots));
    }
    EXPECT_EQ(read_file(real + "/new/x.pdf"), "PDF");
    EXPECT_EQ(read_file(real + "/log.txt"), "riga\nriga\n");
    EXPECT_FALSE(fs::exists(dir / "outside/x.pdf"));
    // A name that only begins like the real location is elsewhere.
    write_file(real + "x/in.txt", "accanto");
    EXPECT_EQ(safe_path::open_below(real + "x/in.txt", roots).status, safe_path::Status::refused);

    // The link pointed at another folder: the old real location is no longer allowed.
    const std::string other = dir / "data/other";
    write_file(other + "/in.txt", "nuovo");
    fs::remove(link);
    fs::create_symlink(other, link);
    auto in = safe_path::open_below(link + "/in.txt", roots);
    ASSERT_EQ(in.status, safe_path::Status::ok);
    EXPECT_EQ(safe_path::read_whole(in.fd), "nuovo");
    EXPECT_EQ(safe_path::open_below(real + "/in.txt", roots).status, safe_path::Status::refused);
    EXPECT_FALSE(safe_path::write_below(real + "/y.pdf", "PDF", roots));
    EXPECT_TRUE(safe_path::open_below(other + "/in.txt", roots).status == safe_path::Status::ok);

    // The folder removed and made again: the new one is written.
    fs::remove_all(other);
    EXPECT_EQ(safe_path::open_below(link + "/in.txt", roots).status, safe_path::Status::refused);
    EXPECT_FALSE(safe_path::write_below(link + "/z.pdf", "PDF", roots, true));
    EXPECT_FALSE(fs::exists(other));
    fs::create_directories(other);
    ASSERT_TRUE(safe_path::write_below(link + "/z.pdf", "PDF", roots));
    EXPECT_EQ(read_file(other + "/z.pdf"), "PDF");
}

}  // namespace
}  // namespace velarion
