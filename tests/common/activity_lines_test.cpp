// The activity lines of the whole program (build/bin/velarion --headless):
// each reaches standard output and the day's log, whole, in order and byte
// for byte; a log file removed or renamed while the agent runs gets the
// next lines in a new file; a kill leaves only complete lines in both.
#include <signal.h>

#include <filesystem>
#include <sstream>
#include <chrono>
#include <thread>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/agent_site.h"
#include "support/background_process.h"
#include "support/test_support.h"

namespace velarion {
namespace {

namespace fs = std::filesystem;
using testing::BackgroundProcess;
using testing::eventually;
using testing::read_file;

// Operator AB storing its messages as drafts in a maildir: no mail server.
struct Site : testing::AgentSite {
    Site() { configure("", "[MAPI]\nclient=Microsoft Outlook\nstore=maildir://localhost" + posta + "\n"); }
    std::string log_file() const {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(work + "log", ec))
            if (e.path().filename().string().rfind("velarion_log_", 0) == 0) return e.path().string();
        return "";
    }
};

// True when every line of text is whole: a time stamp, a blank, the text, a line feed.
bool whole_lines(const std::string& text) {
    if (text.empty() || text.back() != '\n') return false;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.size() < 20 || line[2] != '/' || line[5] != '/' || line[10] != ' ' || line[13] != ':' ||
            line[16] != ':' || line[19] != ' ')
            return false;
    }
    return true;
}

TEST(ActivityLines, ALogRemovedOrRenamedWhileTheAgentRunsGetsTheNextLinesInOrder) {
    Site s;
    s.message("AB.1", "uno@example.it", "SAVE");
    BackgroundProcess agent(s.args(), s.env());
    ASSERT_TRUE(agent.wait_for(" Salvato AB.1 - uno@example.it", 20000)) << agent.out() << agent.err();
    ASSERT_TRUE(eventually([&] { return s.log().find(" Salvato AB.1 ") != std::string::npos; }, 10000));
    const std::string log = s.log_file();

    // Removed: the next message's lines are in a file made anew.
    fs::remove(log);
    s.message("AB.2", "due@example.it", "SAVE");
    ASSERT_TRUE(eventually([&] { return read_file(log).find(" Salvato AB.2 - due@example.it\n") != std::string::npos; },
                           20000))
        << agent.out();

    // Renamed away: nothing written after it is lost; then the file is made anew.
    const std::string renamed = s.work + "log/vecchio.txt";
    fs::rename(log, renamed);
    s.message("AB.3", "tre@example.it", "SAVE");
    ASSERT_TRUE(agent.wait_for(" Salvato AB.3 - tre@example.it", 20000)) << agent.out();
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    s.message("AB.4", "quattro@example.it", "SAVE");
    ASSERT_TRUE(eventually([&] { return read_file(log).find(" Salvato AB.4 - ") != std::string::npos; }, 20000))
        << agent.out();
    agent.signal(SIGTERM);
    agent.wait();

    // What the two files hold is the end of standard output, byte for byte
    // and in order (the lines are ASCII: the same in both encodings).
    const std::string out = agent.out();
    const std::string written = read_file(renamed) + read_file(log);
    EXPECT_TRUE(whole_lines(out)) << out;
    EXPECT_NE(written.find(" Salvato AB.2 - "), std::string::npos) << written;
    ASSERT_LE(written.size(), out.size());
    EXPECT_EQ(out.substr(out.size() - written.size()), written) << out << "----\n" << written;
}

TEST(ActivityLines, AKillLeavesCompleteLinesAndTheLogAsTheStartOfStandardOutput) {
    Site s;
    for (int n = 1; n <= 40; ++n) s.message("AB." + std::to_string(n), "c" + std::to_string(n) + "@example.it", "SAVE");
    BackgroundProcess agent(s.args(), s.env());
    ASSERT_TRUE(agent.wait_for(" Salvato AB.", 20000)) << agent.out() << agent.err();
    agent.signal(SIGKILL);
    agent.wait();
    const std::string out = agent.out();
    const std::string log = s.log();
    EXPECT_TRUE(whole_lines(out)) << out;
    EXPECT_TRUE(whole_lines(log)) << log;
    // Every line reached standard output as it was added; the log holds
    // them in the same order up to its last flush.
    ASSERT_LE(log.size(), out.size());
    EXPECT_EQ(out.substr(0, log.size()), log);
}

}  // namespace
}  // namespace velarion
