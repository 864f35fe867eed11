#include "common/ini_cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "support/test_support.h"

namespace velarion {
namespace {

using testing::settle;
using testing::TempDir;
using testing::write_file;
namespace fs = std::filesystem;

// What is made from a version of a file goes with it: the next version
// starts with nothing made, and an old version has nowhere to keep anything.
TEST(IniCache, MadeValuesGoWithTheirVersion) {
    TempDir dir;
    const std::string path = dir / "loghi.ini";
    const std::vector<std::string> roots{dir.path()};
    IniCache cache;
    write_file(path, "[A]\nbold=y\n");
    settle(path);
    const auto first = cache.get(path, roots);
    IniCache::Made* made = cache.made_from(path, first);
    ASSERT_NE(made, nullptr);
    (*made)["A"] = std::make_shared<const int>(1);
    EXPECT_EQ(cache.made_from(path, cache.get(path, roots))->count("A"), 1u);

    write_file(path, "[A]\nbold=n\n[B]\n");
    settle(path);
    const auto second = cache.get(path, roots);
    ASSERT_NE(second, first);
    EXPECT_TRUE(cache.made_from(path, second)->empty());
    EXPECT_EQ(cache.made_from(path, first), nullptr);
    EXPECT_EQ(cache.made_from(dir / "other.ini", second), nullptr);
}

// Read once while unchanged; read again when another version is in place
// (edited in place, or replaced by a rename); a missing file is looked at
// again and read once it appears.
TEST(IniCache, ReadOnceUntilTheFileChanges) {
    TempDir dir;
    const std::string path = dir / "loghi.ini";
    const std::vector<std::string> roots{dir.path()};
    IniCache cache;
    EXPECT_FALSE(cache.get(path, roots)->read);
    EXPECT_FALSE(cache.get(path, roots)->read);
    EXPECT_EQ(cache.reads(), 1);

    write_file(path, "[A]\nbold=y\n");
    settle(path);
    const auto first = cache.get(path, roots);
    ASSERT_TRUE(first->read);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(cache.get(path, roots), first);
    EXPECT_EQ(cache.reads(), 2);

    write_file(path, "[A]\nbold=n\n[B]\n");  // edited in place
    settle(path);
    const auto second = cache.get(path, roots);
    EXPECT_NE(second, first);
    EXPECT_NE(second->section("B"), nullptr);
    EXPECT_EQ(first->section("B"), nullptr);  // a holder of the old version keeps it
    EXPECT_EQ(cache.reads(), 3);

    write_file(dir / "new.ini", "[C]\n");
    settle(dir / "new.ini");
    std::filesystem::rename(dir / "new.ini", path);  // replaced whole: another inode
    EXPECT_NE(cache.get(path, roots)->section("C"), nullptr);
    EXPECT_EQ(cache.reads(), 4);

    std::filesystem::remove(path);
    EXPECT_FALSE(cache.get(path, roots)->read);
    EXPECT_EQ(cache.reads(), 5);
}

// A file modified just before it was read may change again within the same
// tick of the file system's clock, keeping size and stamp: it is read again
// until it has settled. An edit that keeps the size and the time is then seen.
TEST(IniCache, AFreshFileIsReadAgainUntilItSettles) {
    TempDir dir;
    const std::string path = dir / "loghi.ini";
    const std::vector<std::string> roots{dir.path()};
    IniCache cache;
    write_file(path, "[A]\nbold=y\n");
    const auto when = std::filesystem::last_write_time(path);
    cache.get(path, roots);
    cache.get(path, roots);
    EXPECT_EQ(cache.reads(), 2);

    write_file(path, "[A]\nbold=n\n");  // same size, and the same time
    std::filesystem::last_write_time(path, when);
    EXPECT_NE(cache.get(path, roots)->section("A")->entries[0].value, "y");
}

// A file swapped for a link to a file outside the folders is refused at the
// open and never read, even when the outside file has the stamp size and
// time of the one kept; swapped back by a rename (another inode, same size
// and time) it is read again, never served from the version kept.
TEST(IniCache, ASwappedFileIsNeverServedFromWhatWasKeptOrFromOutside) {
    TempDir dir;
    fs::create_directories(dir / "loghi");
    const std::string path = dir / "loghi/loghi.ini";
    const std::vector<std::string> roots{dir / "loghi/"};
    IniCache cache;
    write_file(path, "[A]\nk=dentro\n");
    settle(path);
    const auto when = fs::last_write_time(path);
    ASSERT_EQ(cache.get(path, roots)->section("A")->entries[0].value, "dentro");

    write_file(dir / "fuori.ini", "[A]\nk=fuori!\n");  // same size
    fs::last_write_time(dir / "fuori.ini", when);
    fs::create_symlink(dir / "fuori.ini", dir / "loghi/link");
    fs::rename(dir / "loghi/link", path);
    auto swapped = cache.get(path, roots);
    EXPECT_FALSE(swapped->read);
    EXPECT_TRUE(swapped->refused);
    EXPECT_TRUE(swapped->sections.empty());
    EXPECT_EQ(cache.get(path, roots), swapped);  // refused again: nothing read

    // A second name for the outside file, made in the folder: refused too.
    fs::remove(path);
    fs::create_hard_link(dir / "fuori.ini", path);
    EXPECT_TRUE(cache.get(path, roots)->refused);

    write_file(dir / "loghi/new.ini", "[A]\nk=nuovo!\n");
    fs::last_write_time(dir / "loghi/new.ini", when);
    fs::rename(dir / "loghi/new.ini", path);
    const auto back = cache.get(path, roots);
    EXPECT_FALSE(back->refused);
    EXPECT_EQ(back->section("A")->entries[0].value, "nuovo!");
}

// A writer swapping the file for a link to an outside file as fast as it
// can while it is used: whatever the interleaving, the outside contents
// never come out, and once the writer stops the file in place is the one read.
TEST(IniCache, ARacingWriterNeverGetsAnOutsideFileRead) {
    TempDir dir;
    fs::create_directories(dir / "loghi");
    const std::string path = dir / "loghi/barcode.ini";
    const std::vector<std::string> roots{dir / "loghi/"};
    write_file(dir / "fuori.ini", "[C39]\ntipo=FUORI\n");
    write_file(path, "[C39]\ntipo=code39\n");
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int n = 0; !stop; ++n) {
            const std::string next = dir / "loghi/next";
            std::error_code ec;
            fs::remove(next, ec);  // never written through a link left there
            if (n % 2)
                write_file(next, "[C39]\ntipo=code39\n");
            else
                fs::create_symlink(dir / "fuori.ini", next, ec);
            fs::rename(next, path, ec);
        }
    });
    IniCache cache;
    int outside = 0;
    for (int i = 0; i < 3000; ++i) {
        const auto c = cache.get(path, roots);
        if (const auto* s = c->section("C39"))
            for (const auto& e : s->entries) outside += e.value == "FUORI";
    }
    stop = true;
    writer.join();
    EXPECT_EQ(outside, 0);
    write_file(dir / "loghi/next", "[C39]\ntipo=code39\n");
    fs::rename(dir / "loghi/next", path);
    EXPECT_EQ(cache.get(path, roots)->section("C39")->entries[0].value, "code39");
}

// What is made from other style files goes with the stamp of the version it
// was made from, is not kept for a file modified just before it was read,
// and stays within the bound, the value used longest ago going first.
TEST(IniCache, FileValuesGoWithTheirStampAndStayBounded) {
    IniCache cache;
    const long long now = IniCache::now_ns();
    const long long old = now - 3600LL * 1'000'000'000;
    const ini::FileStamp a{1, 10, 100, old}, edited{1, 10, 100, old + 1}, replaced{1, 11, 100, old};
    cache.keep_made_from_file("overlay\nform.txt", a, now, std::make_shared<const int>(1), 100);
    ASSERT_NE(cache.made_from_file("overlay\nform.txt", a), nullptr);
    EXPECT_EQ(cache.made_from_file("overlay\nform.txt", edited), nullptr);
    EXPECT_EQ(cache.made_from_file("overlay\nform.txt", a), nullptr);  // the old version went
    cache.keep_made_from_file("overlay\nform.txt", a, now, std::make_shared<const int>(1), 100);
    EXPECT_EQ(cache.made_from_file("overlay\nform.txt", replaced), nullptr);
    EXPECT_EQ(cache.files_kept(), 0u);
    EXPECT_EQ(cache.file_bytes_kept(), 0u);

    // Modified in the last two seconds before it was read: not kept.
    const ini::FileStamp fresh{1, 12, 100, now - 1'000'000'000};
    cache.keep_made_from_file("overlay\nfresh.txt", fresh, now, std::make_shared<const int>(1), 100);
    EXPECT_EQ(cache.made_from_file("overlay\nfresh.txt", fresh), nullptr);

    // At most kMaxFiles values; the one used last stays.
    for (std::size_t i = 0; i < 3 * IniCache::kMaxFiles; ++i) {
        const ini::FileStamp s{1, 100 + i, 100, old};
        cache.keep_made_from_file("overlay\n" + std::to_string(i), s, now, std::make_shared<const int>(1), 100);
        EXPECT_NE(cache.made_from_file("overlay\n0", ini::FileStamp{1, 100, 100, old}), nullptr);
        EXPECT_LE(cache.files_kept(), IniCache::kMaxFiles);
    }
    EXPECT_EQ(cache.files_kept(), IniCache::kMaxFiles);
    // At most kMaxFileBytes; a value larger than a quarter of it is not kept.
    const std::size_t big = IniCache::kMaxFileBytes / 5;
    for (std::size_t i = 0; i < 20; ++i) {
        const ini::FileStamp s{2, i, big, old};
        cache.keep_made_from_file("picture\n" + std::to_string(i), s, now, std::make_shared<const int>(1), big);
        EXPECT_LE(cache.file_bytes_kept(), IniCache::kMaxFileBytes);
    }
    cache.keep_made_from_file("picture\nhuge", ini::FileStamp{3, 1, 1, old}, now, std::make_shared<const int>(1),
                              IniCache::kMaxFileBytes / 4 + 1);
    EXPECT_EQ(cache.made_from_file("picture\nhuge", ini::FileStamp{3, 1, 1, old}), nullptr);
    EXPECT_LE(cache.files_kept(), IniCache::kMaxFiles);
}

}  // namespace
}  // namespace velarion
