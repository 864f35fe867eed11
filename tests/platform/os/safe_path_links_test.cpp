#include "platform/os/safe_path.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace velarion
