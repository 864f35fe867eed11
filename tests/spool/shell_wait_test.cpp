#include "spool/shell_wait.h"

#include <unistd.h>

#include <chrono>
#include <filesystem>

#include <gtest/gtest.h>

#include "platform/os/process.h"
#include "support/test_support.h"

namespace velarion {
namespace {

using testing::read_file;
using testing::TempDir;
using testing::TestContext;
using testing::write_file;

TEST(ShellWait, ReturnsTheExitCode) {
    EXPECT_EQ(shell_wait(std::vector<std::string>{"/bin/sh", "-c", "exit 3"}), 3);
    EXPECT_EQ(shell_wait("true"), 0);
    EXPECT_EQ(shell_wait("false"), 1);
}

TEST(ShellWait, WaitsForTheOutputFiles) {
    TempDir dir;
    const std::string out = dir / "out.txt";
    EXPECT_EQ(shell_wait(std::vector<std::string>{"/bin/sh", "-c", "sleep 0.2; echo fatto > " + out}), 0);
    EXPECT_EQ(read_file(out), "fatto\n");
    // A command line is split at blanks: program and its arguments.
    EXPECT_EQ(shell_wait("/bin/cp " + out + " " + dir / "copy.txt"), 0);
    EXPECT_EQ(read_file(dir / "copy.txt"), "fatto\n");
}

TEST(ShellWait, MissingProgramGivesMinusOne) {
    EXPECT_EQ(shell_wait("/no/such/program arg"), -1);
    EXPECT_EQ(shell_wait("no-such-program-velarion"), -1);
    EXPECT_EQ(shell_wait(""), -1);
}

TEST(RunAndWait, LetsEventsRunOnceThenWaits) {
    TempDir dir;
    TestContext t;
    const auto start = std::chrono::steady_clock::now();
    process::run_and_wait({"/bin/sh", "-c", "sleep 0.2; echo x > " + dir / "done"}, [&] { t.view.process_events(); });
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    EXPECT_EQ(read_file(dir / "done"), "x\n");
    EXPECT_EQ(t.view.events_pumped, 1);
}

TEST(RunAndWait, MissingProgramReturnsAtOnce) {
    TestContext t;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(process::run_and_wait({"/no/such/program"}, [&] { t.view.process_events(); }), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(t.view.events_pumped, 0);  // nothing started: no events are let run
}

// The events are let run once the program has started, not before.
struct StartedView : testing::RecordingView {
    std::string marker;
    bool started_before_events = false;
    void process_events() override {
        ++events_pumped;
        for (int i = 0; i < 200 && !std::filesystem::exists(marker); ++i) usleep(10000);
        started_before_events = std::filesystem::exists(marker);
    }
};

TEST(RunAndWait, EventsRunAfterTheStart) {
    TempDir dir;
    StartedView view;
    view.marker = dir / "started";
    process::run_and_wait({"/bin/sh", "-c", "echo > " + view.marker}, [&] { view.process_events(); });
    EXPECT_TRUE(view.started_before_events);
}

TEST(RunAndWait, InputGoesToStandardInputAndNeverToTheCommandLine) {
    TempDir dir;
    TestContext t;
    const std::string got = dir / "got";
    EXPECT_EQ(process::run_and_wait({"/bin/sh", "-c", "cat > " + got + "; exit 5"}, "segreto\n",
                                    [&] { t.view.process_events(); }),
              5);
    EXPECT_EQ(read_file(got), "segreto\n");
    EXPECT_EQ(t.view.events_pumped, 1);
    // A program that ends without reading its input: its exit code, and this
    // process is not hurt by the unread input.
    EXPECT_EQ(process::run_and_wait({"/bin/sh", "-c", "exit 4"}, "segreto\n", nullptr), 4);
    // An empty input is the end of input at once.
    EXPECT_EQ(process::run_and_wait({"/bin/sh", "-c", "test \"$(cat)\" = ''"}, "", nullptr), 0);
}

TEST(RunAndWait, InputThatCannotBeGivenStartsNothing) {
    TempDir dir;
    TestContext t;
    EXPECT_EQ(process::run_and_wait({"/bin/sh", "-c", "echo > " + dir / "ran"}, std::string(4097, 'x'),
                                    [&] { t.view.process_events(); }),
              -1);
    EXPECT_FALSE(std::filesystem::exists(dir / "ran"));
    EXPECT_EQ(process::run_and_wait({"/no/such/program"}, "x", [&] { t.view.process_events(); }), -1);
    EXPECT_EQ(t.view.events_pumped, 0);
}

}  // namespace
}  // namespace velarion
