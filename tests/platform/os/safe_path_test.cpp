#include "platform/os/safe_path.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <istream>

#include "support/test_support.h"

namespace velarion {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

struct SafePath : ::testing::Test {
    SafePath() {
        root = dir / "root";
        write_file(root + "/in.txt", "dentro");
        write_file(dir / "outside/secret.txt", "SEGRETO");
        fs::create_symlink(dir / "outside", root + "/link");
        fs::create_symlink(dir / "outside/secret.txt", root + "/secret.txt");
    }
    std::string read_fd(const safe_path::Fd& fd) const {
        char buf[64] = {};
        const ssize_t n = ::pread(fd.get(), buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : "";
    }
    TempDir dir;
    std::string root;
    std::vector<std::string> roots() const { return {root + "/"}; }
};

TEST_F(SafePath, PathsAreJudgedByWhereTheyReallyLead) {
    EXPECT_TRUE(safe_path::is_below(root + "/in.txt", roots()));
    EXPECT_TRUE(safe_path::is_below(root + "/missing/x.pdf", roots()));  // not there yet, but inside
    EXPECT_TRUE(safe_path::is_below(root, roots()));
    EXPECT_FALSE(safe_path::is_below(root + "/../outside/secret.txt", roots()));
    EXPECT_FALSE(safe_path::is_below(root + "/link/secret.txt", roots()));
    EXPECT_FALSE(safe_path::is_below(root + "/secret.txt", roots()));
    EXPECT_FALSE(safe_path::is_below(root + "/missing/../../outside", roots()));
    EXPECT_FALSE(safe_path::is_below(root + "x/in.txt", roots()));  // a name that only begins like the root
    EXPECT_FALSE(safe_path::is_below(root + "/in.txt", {"", dir / "absent/"}));
    // Windows separators name the same place.
    std::string windows = root + "/in.txt";
    for (char& c : windows)
        if (c == '/') c = '\\';
    EXPECT_EQ(safe_path::real_location(windows), fs::canonical(root + "/in.txt").string());
}

TEST_F(SafePath, OpeningNeverFollowsALink) {
    auto in = safe_path::open_below(root + "/in.txt", roots());
    ASSERT_EQ(in.status, safe_path::Status::ok);
    EXPECT_EQ(read_fd(in.fd), "dentro");
    EXPECT_EQ(safe_path::open_below(root + "/secret.txt", roots()).status, safe_path::Status::refused);
    EXPECT_EQ(safe_path::open_below(root + "/link/secret.txt", roots()).status, safe_path::Status::refused);
    EXPECT_EQ(safe_path::open_below(root + "/nothing.txt", roots()).status, safe_path::Status::missing);
    EXPECT_EQ(safe_path::open_below(root, roots()).status, safe_path::Status::refused);
    // A dangling link inside is refused, not taken for a missing file.
    fs::create_symlink(dir / "outside/later.txt", root + "/later.txt");
    EXPECT_EQ(safe_path::open_below(root + "/later.txt", roots()).status, safe_path::Status::refused);
    // A FIFO in place of a file cannot hold the caller.
    ASSERT_EQ(::mkfifo((root + "/fifo").c_str(), 0600), 0);
    EXPECT_EQ(safe_path::open_below(root + "/fifo", roots()).status, safe_path::Status::refused);
    EXPECT_FALSE(safe_path::open_nofollow(root + "/fifo").valid());
    EXPECT_FALSE(safe_path::open_nofollow(root + "/secret.txt").valid());
    EXPECT_TRUE(safe_path::open_nofollow(root + "/in.txt").valid());
}

TEST_F(SafePath, AFileOpenedOnceIsReadFromItsDescriptorWhateverTakesItsPlace) {
    std::string big(100'000, 'b');  // more than one read of either reader
    big += "fine";
    write_file(root + "/style.txt", "riga uno\nriga due\n" + big);
    safe_path::Opened opened = safe_path::open_below(root + "/style.txt", roots());
    ASSERT_EQ(opened.status, safe_path::Status::ok);
    // The name now leads outside: what was opened is still what is read.
    fs::remove(root + "/style.txt");
    fs::create_symlink(dir / "outside/secret.txt", root + "/style.txt");
    EXPECT_EQ(safe_path::read_whole(opened.fd), "riga uno\nriga due\n" + big);
    EXPECT_EQ(safe_path::read_whole(opened.fd), "riga uno\nriga due\n" + big);  // from its start again
    safe_path::FdReader reader(opened.fd);
    std::istream in(&reader);
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, "riga uno");
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, "riga due");
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, big);
    EXPECT_FALSE(std::getline(in, line));
    EXPECT_FALSE(safe_path::read_whole(safe_path::Fd()));
    EXPECT_EQ(safe_path::open_below(root + "/style.txt", roots()).status, safe_path::Status::refused);
}

TEST_F(SafePath, WritesReplaceALinkAndStayInside) {
    ASSERT_TRUE(safe_path::write_below(root + "/secret.txt", "PDF", roots()));
    EXPECT_FALSE(fs::is_symlink(root + "/secret.txt"));
    EXPECT_EQ(read_file(root + "/secret.txt"), "PDF");
    EXPECT_EQ(read_file(dir / "outside/secret.txt"), "SEGRETO");

    EXPECT_FALSE(safe_path::write_below(root + "/link/secret.txt", "PDF", roots(), true));
    EXPECT_FALSE(safe_path::write_below(dir / "elsewhere/new/x.pdf", "PDF", roots(), true));
    EXPECT_FALSE(fs::exists(dir / "elsewhere"));
    EXPECT_EQ(read_file(dir / "outside/secret.txt"), "SEGRETO");

    // Missing folders are made below the root only when asked.
    EXPECT_FALSE(safe_path::write_below(root + "/a/b/x.pdf", "PDF", roots()));
    ASSERT_TRUE(safe_path::write_below(root + "/a/b/x.pdf", "PDF", roots(), true));
    EXPECT_EQ(read_file(root + "/a/b/x.pdf"), "PDF");

    ASSERT_TRUE(safe_path::copy_below(root + "/in.txt", root + "/a/copia.txt", roots()));
    EXPECT_EQ(read_file(root + "/a/copia.txt"), "dentro");
    EXPECT_FALSE(safe_path::copy_below(root + "/secret2.txt", root + "/a/x.txt", roots()));
    fs::create_symlink(dir / "outside/secret.txt", root + "/secret2.txt");
    EXPECT_FALSE(safe_path::copy_below(root + "/secret2.txt", root + "/a/x.txt", roots()));
    EXPECT_FALSE(fs::exists(root + "/a/x.txt"));
}

TEST_F(SafePath, AppendsNeverFollowALink) {
    ASSERT_TRUE(safe_path::append_below(root + "/log.txt", "uno\n", roots()));
    ASSERT_TRUE(safe_path::append_below(root + "/log.txt", "due\n", roots()));
    EXPECT_EQ(read_file(root + "/log.txt"), "uno\ndue\n");
    EXPECT_FALSE(safe_path::append_below(root + "/secret.txt", "x", roots()));
    EXPECT_FALSE(safe_path::append_below(root + "/link/secret.txt", "x", roots()));
    EXPECT_EQ(read_file(dir / "outside/secret.txt"), "SEGRETO");
}

}  // namespace
}  // namespace velarion
