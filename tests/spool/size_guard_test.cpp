// The size check judged by the file system's clock: files unchanged for two
// seconds are copied without waiting, each copy is checked two seconds after
// it was made, and the messages of one scan share their waits.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "spool/message_turns.h"
#include "spool/size_guard.h"
#include "spool/staged_copy.h"
#include "spool/spool_fixture.h"

namespace fs = std::filesystem;

namespace velarion::testing {
namespace {

using SizeGuardScan = SpoolFixture;

int lines_with(const ActivityList& list, const std::string& text) {
    int n = 0;
    for (const auto& l : list.lines()) n += l.find(text) != std::string::npos;
    return n;
}

// The line of the list that ends with `text`: end() when none.
std::vector<std::string>::const_iterator line_ending(const ActivityList& list, const std::string& text,
                                                    std::vector<std::string>::const_iterator from) {
    return std::find_if(from, list.lines().end(), [&](const std::string& l) { return l.ends_with(text); });
}

// The files in this agent's folder of copies not yet checked.
int copies_waiting(const std::string& work) {
    int n = 0;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(work + "in_lavorazione", ec), end; !ec && it != end; it.increment(ec))
        n += it->path().parent_path().filename().string().ends_with(".copie") && it->is_regular_file();
    return n;
}

TEST_F(SizeGuardScan, OldPrintFilesAreCopiedAheadAndShareOneWaitAfterTheirCopies) {
    constexpr int kMessages = 20;
    for (int i = 0; i < kMessages; ++i)
        write_message("AB." + std::to_string(100 + i), header("R" + std::to_string(i), "a@x.it", {"A.PDF"}), "b",
                      {"contenuto " + std::to_string(i)});
    // Written three seconds before the scan, by the file system's clock.
    clock.files_unchanged_for(spool, 3000);
    scan();
    ASSERT_EQ(delivered.size(), static_cast<std::size_t>(kMessages)) << dump();
    // Every print file copied at once; two seconds after the copies, one
    // wait for all of them, not two seconds for each.
    EXPECT_EQ(clock.slept_ms(), 2000);
    // Each message still has its two lines of the check, in order, and nothing copied twice.
    for (int i = 0; i < kMessages; ++i) {
        const std::string path = spool + "AB." + std::to_string(100 + i) + ".0";
        const std::string size = std::to_string(std::string("contenuto " + std::to_string(i)).size());
        const auto first = line_ending(list, " Dimensione iniziale " + path + " " + size, list.lines().begin());
        ASSERT_NE(first, list.lines().end()) << dump();
        EXPECT_NE(line_ending(list, " Dimensione di controllo " + path + " " + size, first), list.lines().end());
    }
    EXPECT_EQ(lines_with(list, "Dimensione File allegato differente"), 0);
    EXPECT_EQ(copies_waiting(work), 0);
}

TEST_F(SizeGuardScan, NewMessagesFoundTogetherShareOneWait) {
    constexpr int kMessages = 10;
    for (int i = 0; i < kMessages; ++i)
        write_message("AB." + std::to_string(200 + i), header("R" + std::to_string(i), "a@x.it", {"A.PDF"}), "b",
                      {"nuovo"});
    scan();
    ASSERT_EQ(delivered.size(), static_cast<std::size_t>(kMessages)) << dump();
    // Two quiet seconds for all of them, then two after their copies for all of them.
    EXPECT_EQ(clock.slept_ms(), 4000);
    EXPECT_EQ(lines_with(list, " Dimensione iniziale "), kMessages);
    EXPECT_EQ(lines_with(list, " Dimensione di controllo "), kMessages);
}

TEST_F(SizeGuardScan, AFileChangedOneSecondAgoWaitsOnlyForTheRest) {
    write_message("AB.300", header("R300", "a@x.it", {"A.PDF"}), "b", {"quasi"});
    clock.files_unchanged_for(spool, 1200);
    scan();
    ASSERT_EQ(delivered.size(), 1u) << dump();
    EXPECT_EQ(clock.slept_ms(), 800 + 2000);
}

// The writer resumes right after the agent copied the file: the control two
// seconds later sees it, and the message leaves with the whole file.
TEST_F(SizeGuardScan, AFileWrittenToRightAfterItsCopyIsCopiedAgain) {
    write_message("AB.400", header("R400", "a@x.it", {"A.PDF"}), "b", {"prima parte"});
    clock.files_unchanged_for(spool, 3000);
    bool resumed = false;
    view.on_events = [&] {
        if (resumed || copies_waiting(work) == 0) return;
        std::ofstream(spool + "AB.400.0", std::ios::app) << " e seconda parte";
        resumed = true;
    };
    scan();
    ASSERT_TRUE(resumed);
    ASSERT_EQ(delivered.size(), 1u) << dump();
    EXPECT_EQ(read_file(work + "A.PDF"), "prima parte e seconda parte");
    const std::string path = spool + "AB.400.0";
    auto at = list.lines().begin();
    for (const std::string& l :
         {" Dimensione iniziale " + path + " 11", " Dimensione di controllo " + path + " 27",
          std::string(" Dimensione File allegato differente da file originale di Quil Effettuo nuovamente la copia"),
          " Dimensione iniziale " + path + " 27", " Dimensione di controllo " + path + " 27"}) {
        at = line_ending(list, l, at);
        ASSERT_NE(at, list.lines().end()) << l << "\n" << dump();
    }
    // Two seconds after each copy.
    EXPECT_EQ(clock.slept_ms(), 4000);
    EXPECT_EQ(copies_waiting(work), 0);
}

// A change that keeps the size (a rewrite in place) is seen as well.
TEST_F(SizeGuardScan, ARewriteOfTheSameSizeAfterTheCopyIsCopiedAgain) {
    write_message("AB.401", header("R401", "a@x.it", {"A.PDF"}), "b", {"vecchio"});
    clock.files_unchanged_for(spool, 3000);
    bool rewritten = false;
    view.on_events = [&] {
        if (rewritten || copies_waiting(work) == 0) return;
        write_file(spool + "AB.401.0", "nuovo!!");
        rewritten = true;
    };
    scan();
    ASSERT_EQ(delivered.size(), 1u) << dump();
    EXPECT_EQ(read_file(work + "A.PDF"), "nuovo!!");
    EXPECT_EQ(lines_with(list, "Dimensione File allegato differente"), 1);
}

// Another agent takes a message whose print file this agent had copied
// ahead: the copy goes, nothing of that message stays in the work folder.
TEST_F(SizeGuardScan, ACopyMadeAheadGoesWhenAnotherAgentTakesItsMessage) {
    write_message("AB.500", header("R500", "a@x.it", {"A.PDF"}), "b", {"primo"});
    write_message("AB.501", header("R501", "b@x.it", {"B.PDF"}), "b", {"secondo"});
    clock.files_unchanged_for(spool, 3000);
    int most = 0;
    view.on_events = [&] {
        most = std::max(most, copies_waiting(work));
        if (most == 2 && fs::exists(spool + "AB.501.T")) fs::rename(spool + "AB.501.T", root / "preso.T");
    };
    scan();
    EXPECT_EQ(most, 2);
    ASSERT_EQ(delivered.size(), 1u) << dump();
    EXPECT_EQ(delivered[0].lsNumRef, "R500");
    EXPECT_EQ(copies_waiting(work), 0);
    for (const auto& e : fs::directory_iterator(work))
        EXPECT_EQ(e.path().filename().string().find("AB.501"), std::string::npos) << e.path();
    EXPECT_TRUE(fs::exists(spool + "AB.501.0"));
}

// Stopped between messages: the copies made ahead go, their messages stay in the spool.
TEST_F(SizeGuardScan, ClosingBetweenMessagesDropsTheCopiesMadeAhead) {
    for (int i = 0; i < 3; ++i)
        write_message("AB.60" + std::to_string(i), header("R", "a@x.it", {"A.PDF"}), "b", {"dati"});
    clock.files_unchanged_for(spool, 3000);
    scanner.set_closing([&] { return !delivered.empty(); });
    scan();
    ASSERT_EQ(delivered.size(), 1u) << dump();
    EXPECT_EQ(copies_waiting(work), 0);
    EXPECT_TRUE(fs::exists(spool + "AB.601.T"));
    EXPECT_TRUE(fs::exists(spool + "AB.602.T"));
}

// However many messages a scan finds, the copies made ahead of their turn
// are bounded, and each message gets the copy of its own print file.
TEST_F(SizeGuardScan, CopiesMadeAheadAreBounded) {
    constexpr int kMessages = spool::MessageTurns::kAheadMessages + 44;
    for (int i = 0; i < kMessages; ++i) write_file(spool + "AB." + std::to_string(i) + ".0", std::to_string(i));
    clock.files_unchanged_for(spool, 3000);
    write_file(root / "stamp", "");
    spool::SizeGuard guard(rt, root / "stamp");
    const std::string folder = root / "copie/";
    spool::CopyStage stage(folder);
    std::size_t most = 0;
    int taken = 0, next = 0;
    spool::MessageTurns::Hooks hooks;
    hooks.go_on = [] { return true; };
    hooks.before_pause = [] {};
    hooks.take = [&](const std::string& name, spool::StagedCopy copy) {
        most = std::max<std::size_t>(most, std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
        ASSERT_TRUE(copy) << name;
        EXPECT_EQ(copy.from(), spool + name.substr(0, name.size() - 2) + ".0");
        EXPECT_EQ(read_file(copy.path()), name.substr(3, name.size() - 5));
        ++taken;
    };
    spool::MessageTurns turns(guard, stage, 120000, hooks);
    turns.run([&]() -> std::optional<spool::FoundMessage> {
        if (next == kMessages) return std::nullopt;
        const std::string base = "AB." + std::to_string(next++);
        return spool::FoundMessage{base + ".T", spool + base + ".0", base + ".0"};
    });
    EXPECT_EQ(taken, kMessages);
    EXPECT_EQ(most, spool::MessageTurns::kAheadMessages);
    // Each copy went with its turn.
    EXPECT_TRUE(fs::is_empty(folder));
}

TEST(SizeGuard, ATimeAheadOfTheLookCountsFromTheLook) {
    using Look = spool::SizeGuard::Look;
    Look first;
    first.present = true;
    first.at = 10000;
    first.changed = 9000;
    Look later = first;
    later.at = 10500;
    EXPECT_EQ(spool::SizeGuard::remaining_ms(first, later), 500);
    later.at = 11000;
    EXPECT_EQ(spool::SizeGuard::remaining_ms(first, later), 0);
    // The file system's clock went back after the write: its change time
    // proves nothing, the two seconds run from the first look.
    first.changed = 50000;
    later = first;
    later.at = 11000;
    EXPECT_EQ(spool::SizeGuard::remaining_ms(first, later), 1000);
    EXPECT_FALSE(spool::SizeGuard::judged(Look{}));
}

TEST(SizeGuard, TwoSecondsAfterACopyByBothClocks) {
    using Moment = spool::SizeGuard::Moment;
    const Moment copied{50000, 7000};
    EXPECT_EQ(spool::SizeGuard::remaining_between(copied, {50500, 7500}), 1500);
    EXPECT_EQ(spool::SizeGuard::remaining_between(copied, {52000, 9000}), 0);
    // The file system's clock behind the local one: its two seconds are waited for.
    EXPECT_EQ(spool::SizeGuard::remaining_between(copied, {51000, 9000}), 1000);
    // Leaping ahead, it does not shorten the local two seconds.
    EXPECT_EQ(spool::SizeGuard::remaining_between(copied, {90000, 7200}), 1800);
    // Gone back, or unknown: the local clock's two seconds.
    EXPECT_EQ(spool::SizeGuard::remaining_between(copied, {10000, 8000}), 1000);
    EXPECT_EQ(spool::SizeGuard::remaining_between({-1, 7000}, {-1, 8500}), 500);
}

}  // namespace
}  // namespace velarion::testing
