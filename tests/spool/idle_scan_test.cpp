// An idle agent does not list its folders at every tick when their status
// says they are unchanged: what a folder's status cannot show (an entry made
// within the same tick of the file system's clock, a time set back, an agent
// that ended) is still found within the safety periods, and a folder made
// anew is listed at once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "platform/os/file_lock.h"
#include "spool/folder_watch.h"
#include "spool/queue.h"
#include "spool/recovery.h"
#include "spool/spool_fixture.h"

namespace fs = std::filesystem;

namespace velarion::testing {
namespace {

using IdleScan = SpoolFixture;

const char* const kOther = "altrohost-4343-0badcafe";

// Sets the folder's modification time, as an entry made within the tick of
// the file system's clock of its last change would leave it.
void set_modified(const std::string& path, const timespec& t) {
    const timespec times[2] = {t, t};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// An hour ago: a time no change made from now on can share.
timespec an_hour_ago() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    now.tv_sec -= 3600;
    return now;
}

// Moves the clock (and its monotonic reading) forward by `ms`.
void pass_time(FixedClock& clock, long long ms) {
    DateTime t = clock.now();
    const long long s = t.second + (ms + 999) / 1000;
    t.minute += static_cast<int>(s / 60);
    t.second = static_cast<int>(s % 60);
    clock.set(t);
}

TEST_F(IdleScan, ATriggerTheSpoolFoldersTimeDoesNotShowIsTakenWithinTheSafetyPeriod) {
    scan();  // makes the queue folder in the spool folder
    const timespec old = an_hour_ago();
    set_modified(spool, old);
    scan();  // an empty spool, its look trusted
    write_message("AB.1", header("R1", "a@x.it"), "b");
    set_modified(spool, old);
    scan();
    pass_time(clock, SpoolScanner::kSpoolRelistMs);
    scan();
    ASSERT_EQ(delivered.size(), 1u) << dump();
    EXPECT_EQ(delivered[0].lsNumRef, "R1");
    EXPECT_EQ(files_in(spool), std::vector<std::string>{"coda/"});
}

TEST_F(IdleScan, AClaimTheQueueFoldersTimeDoesNotShowIsTakenOverWithinTheSafetyPeriod) {
    scan();
    const std::string coda = spool + "coda";
    const timespec old = an_hour_ago();
    set_modified(coda, old);
    pass_time(clock, spool::kLivenessMs);
    scan();  // an empty queue, its look trusted
    write_message("AB.2", header("R2", "a@x.it"), "b");
    fs::rename(spool + "AB.2.T", coda + "/AB.2.T@" + kOther);  // an agent that has ended since
    set_modified(coda, old);
    scan();
    pass_time(clock, std::max(spool::SpoolQueue::kRelistMs, spool::kLivenessMs));
    scan();
    ASSERT_EQ(delivered.size(), 1u) << dump();
    EXPECT_TRUE(has_text(" Messaggio AB.2 ripreso: l'agente " + std::string(kOther) + " si era interrotto")) << dump();
    EXPECT_EQ(queue_files(), std::vector<std::string>{"agenti/"});
}

TEST_F(IdleScan, AnAgentKilledWhileThisOneIdlesHasItsMessageTakenOver) {
    scan();
    auto other = FileLock::create(spool + "coda/agenti/" + kOther);
    ASSERT_TRUE(other);
    write_message("AB.3", header("R3", "a@x.it"), "b");
    fs::rename(spool + "AB.3.T", spool + "coda/AB.3.T@" + kOther);
    set_modified(spool, an_hour_ago());  // a spool folder whose listing is skipped
    for (int i = 0; i < 3; ++i) {
        pass_time(clock, spool::kLivenessMs);
        scan();
    }
    // While that agent lives, its message is its own.
    EXPECT_TRUE(delivered.empty()) << dump();
    EXPECT_TRUE(fs::exists(spool + "coda/AB.3.T@" + std::string(kOther)));

    other.reset();  // killed: the kernel frees its lock
    pass_time(clock, spool::kLivenessMs);
    // The scan that takes it over puts its trigger back in the spool and takes it.
    scan();
    ASSERT_EQ(delivered.size(), 1u) << dump();
    EXPECT_TRUE(has_text(" Messaggio AB.3 ripreso: l'agente " + std::string(kOther) + " si era interrotto")) << dump();
    EXPECT_EQ(files_in(spool), std::vector<std::string>{"coda/"});
}

TEST_F(IdleScan, ASpoolFolderRemovedAndMadeAgainWithAMessageIsListedAtOnce) {
    scan();
    set_modified(spool, an_hour_ago());
    scan();
    fs::remove_all(spool);
    fs::create_directories(spool);
    write_message("AB.4", header("R4", "a@x.it"), "b");
    scan();
    ASSERT_EQ(delivered.size(), 1u) << dump();
    EXPECT_EQ(delivered[0].lsNumRef, "R4");
    EXPECT_TRUE(has_text(" Cartella mancante " + spool + "coda/: ricreata")) << dump();
}

TEST_F(IdleScan, ARetryAskedWhileTheAgentIdlesIsSeenAtTheNextScan) {
    scan();
    const std::string coda = spool + "coda";
    set_modified(coda, an_hour_ago());
    scan();
    // What velarion --retry-now does: the flag written anew into the queue folder.
    write_file(coda + "/.riprova.tmp", "");
    fs::rename(coda + "/.riprova.tmp", coda + "/" + spool::kRetryFlag);
    list.clear();
    scanner.run_state().transport_hold.failures = 1;
    scanner.run_state().transport_hold.until_ms = clock.monotonic_ms() + 3600000;
    scan();
    EXPECT_TRUE(has_text(" Nuovo tentativo richiesto: riprendo l'invio dei messaggi")) << dump();
    EXPECT_EQ(scanner.run_state().transport_hold.until_ms, 0);
}

// The judgement alone, on looks made up for it.
class Watch : public ::testing::Test {
protected:
    static struct stat folder(ino_t ino, time_t modified_s, long modified_ns = 0) {
        struct stat st {};
        st.st_mode = S_IFDIR | 0700;
        st.st_dev = 7;
        st.st_ino = ino;
        st.st_mtim = {modified_s, modified_ns};
        return st;
    }
    static constexpr timespec kNow{1'800'000'000, 500'000'000};
    spool::FolderWatch watch{5000};
};

TEST_F(Watch, AnUnchangedSettledFolderIsListedAgainOnlyAfterTheSafetyPeriod) {
    const struct stat st = folder(11, kNow.tv_sec - 60);
    EXPECT_FALSE(watch.judge(st, kNow, true, 1000));  // never listed yet
    watch.listed(1000);
    EXPECT_TRUE(watch.judge(st, kNow, true, 1500));
    EXPECT_TRUE(watch.judge(st, kNow, true, 5999));
    EXPECT_FALSE(watch.judge(st, kNow, true, 6000));  // the safety period is over
    watch.listed(6000);
    EXPECT_TRUE(watch.judge(st, kNow, true, 6500));
}

TEST_F(Watch, ChangesOfTimeOrFolderAndUntrustedLooksAreListed) {
    const struct stat st = folder(11, kNow.tv_sec - 60, 250);
    watch.judge(st, kNow, true, 0);
    watch.listed(0);
    // A nanosecond of difference, another folder in its place, another device.
    EXPECT_FALSE(watch.judge(folder(11, kNow.tv_sec - 60, 251), kNow, true, 10));
    EXPECT_FALSE(watch.judge(folder(12, kNow.tv_sec - 60, 250), kNow, true, 10));
    struct stat elsewhere = st;
    elsewhere.st_dev = 8;
    EXPECT_FALSE(watch.judge(elsewhere, kNow, true, 10));

    // A look at a time less than two seconds old, or in the future (the clock
    // went back), or on a file system whose times are not dependable, is
    // never the basis of a skip: the same status is listed again at each look.
    for (const struct stat& look : {folder(13, kNow.tv_sec - 1), folder(14, kNow.tv_sec + 3600)}) {
        spool::FolderWatch w{5000};
        EXPECT_FALSE(w.judge(look, kNow, true, 0));
        w.listed(0);
        EXPECT_FALSE(w.judge(look, kNow, true, 10));
    }
    spool::FolderWatch remote{5000};
    EXPECT_FALSE(remote.judge(st, kNow, false, 0));
    remote.listed(0);
    EXPECT_FALSE(remote.judge(st, kNow, false, 10));

    // Forgotten (a listing cut short): listed at the next look.
    watch.judge(st, kNow, true, 20);
    watch.listed(20);
    watch.forget();
    EXPECT_FALSE(watch.judge(st, kNow, true, 30));
}

}  // namespace
}  // namespace velarion::testing
