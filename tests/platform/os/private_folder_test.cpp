// A folder of this user alone: what is refused when it is opened, and what
// is never followed or waited on once it is open.
#include "platform/os/private_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "platform/os/file_lock.h"
#include "support/test_support.h"

namespace velarion {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::write_file;
using R = PrivateFolder::Refusal;

TEST(PrivateFolder, OnlyAFolderOfThisUserClosedToOthersIsOpened) {
    TempDir t;
    EXPECT_EQ(PrivateFolder::open(t / "nuova", false).refusal, R::missing);
    const auto made = PrivateFolder::open(t / "nuova", true);
    ASSERT_TRUE(made.folder);
    // Made closed to others whatever the umask lets through.
    const mode_t old = ::umask(0);
    const auto open_mask = PrivateFolder::open(t / "aperta", true);
    ::umask(old);
    ASSERT_TRUE(open_mask.folder);
    EXPECT_EQ(fs::status(t / "aperta").permissions(), fs::perms::owner_all);

    fs::create_directory_symlink(t / "nuova", t / "collegamento");
    EXPECT_EQ(PrivateFolder::open(t / "collegamento", false).refusal, R::link);
    EXPECT_EQ(PrivateFolder::open(t / "collegamento", true).refusal, R::link);
    write_file(t / "file", "");
    EXPECT_EQ(PrivateFolder::open(t / "file", false).refusal, R::not_folder);
    ::chmod((t / "nuova").c_str(), 0770);
    const auto group = PrivateFolder::open(t / "nuova", false);
    EXPECT_EQ(group.refusal, R::open_to_others);
    EXPECT_EQ(group.mode, 0770u);
    ::chmod((t / "nuova").c_str(), 0701);
    EXPECT_TRUE(PrivateFolder::open(t / "nuova", false).folder);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown((t / "nuova").c_str(), 64123, 64123), 0);
        const auto foreign = PrivateFolder::open(t / "nuova", false);
        EXPECT_EQ(foreign.refusal, R::foreign_owner);
        EXPECT_EQ(foreign.owner, 64123u);
    }
}

TEST(PrivateFolder, LinksAndSpecialFilesInsideAreNeitherFollowedNorWaitedOn) {
    TempDir t;
    auto opened = PrivateFolder::open(t / "coda", true);
    ASSERT_TRUE(opened.folder);
    const PrivateFolder& q = *opened.folder;
    write_file(t / "fuori", "SEGRETO");
    fs::create_symlink(t / "fuori", t / "coda/record");
    ASSERT_EQ(::mkfifo((t / "coda/fifo").c_str(), 0600), 0);
    write_file(t / "coda/piano", "testo");

    EXPECT_EQ(q.read("record", 100), "");
    EXPECT_EQ(q.read("fifo", 100), "");  // returns at once: no writer is waited for
    EXPECT_EQ(q.read("piano", 3), "tes");
    EXPECT_EQ(q.plain_files(), std::vector<std::string>{"piano"});
    EXPECT_EQ(q.kind("record"), PrivateFolder::Kind::other);
    EXPECT_EQ(FileLock::probe_at(q.fd(), "fifo"), FileLock::State::missing);

    // A write replaces the link instead of writing through it; a removal removes the link only.
    ASSERT_TRUE(q.write("record", "nuovo", atomic_file::Sync::work_file));
    EXPECT_EQ(testing::read_file(t / "fuori"), "SEGRETO");
    fs::create_symlink(t / "fuori", t / "coda/altro");
    EXPECT_TRUE(q.remove("altro"));
    EXPECT_TRUE(fs::exists(t / "fuori"));

    // Renamed away: the descriptor still reaches the same folder, and says it is no longer there.
    const safe_path::Fd parent(::open(t.path().c_str(), O_RDONLY | O_DIRECTORY));
    EXPECT_TRUE(q.still_at(parent.get(), "coda"));
    fs::rename(t / "coda", t / "via");
    fs::create_directory(t / "coda");
    EXPECT_FALSE(q.still_at(parent.get(), "coda"));
    EXPECT_EQ(q.read("piano", 100), "testo");
}

TEST(PrivateFolder, ALockMadeInTheFolderIsSeenHeldUntilItsHolderGoes) {
    TempDir t;
    auto opened = PrivateFolder::open(t / "agenti", true);
    ASSERT_TRUE(opened.folder);
    const int dir = opened.folder->fd();
    {
        auto lock = FileLock::create_at(dir, "agente");
        ASSERT_TRUE(lock);
        EXPECT_EQ(FileLock::probe_at(dir, "agente"), FileLock::State::held);
        // Moved around, the lock still removes its own file.
        auto moved = std::move(*lock);
        moved.remove();
        EXPECT_EQ(FileLock::probe_at(dir, "agente"), FileLock::State::missing);
    }
    write_file(t / "agenti/finito", "");
    EXPECT_EQ(FileLock::probe_at(dir, "finito"), FileLock::State::free);
}

}  // namespace
}  // namespace velarion
