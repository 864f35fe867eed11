// The window agent (offscreen, no --headless) closes on SIGTERM as closing the
// window does, also while a message box waits for a click.
#include <signal.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "support/background_process.h"
#include "support/test_support.h"

namespace velarion {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::write_file;

std::string logs_of(const std::string& work) {
    std::string all;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(work + "log", ec)) all += read_file(e.path().string());
    return all;
}

TEST(WindowSignal, SigtermClosesTheAgentWhileABoxIsOpen) {
    testing::TempDir root;
    const std::string spool = root / "spool/", work = root / "tempozip/", cfg = root / "cfg/";
    fs::create_directories(spool);
    fs::create_directories(work);
    fs::create_directories(root / "run");
    write_file(cfg + "velarion.ini", "[AB]\nEMailAddr=ab@example.com\nPath=" + spool + "\ntempozip_dir=" + work +
                                         "\n[GLOBAL]\nTiming=100\n[MAPI]\nclient=Microsoft Outlook\nstore=maildir://localhost" +
                                         root / "posta" + "\ntransport=smtp://127.0.0.1:1\n");
    // Sixteen recipients cannot go as they are: the failure's box opens and waits.
    std::string to;
    for (int i = 0; i < 16; ++i) to += "u" + std::to_string(i) + "@example.it;";
    write_file(spool + "AB.1.h", "RF1\r\n\r\nab@example.com\r\n" + to + "\r\nOggetto\r\n.\r\nSEND\r\n");
    write_file(spool + "AB.1.b", "Testo\r\n");
    write_file(spool + "AB.1.T", "");

    testing::BackgroundProcess agent({std::string(VELARION_BIN_DIR) + "/velarion", "ini:" + cfg, "ope:AB"},
                                     {"HOME=" + root / "home", "XDG_RUNTIME_DIR=" + root / "run",
                                      "XDG_CONFIG_HOME=" + root / "config", "QT_QPA_PLATFORM=offscreen"});
    ASSERT_TRUE(agent.started());
    // The message is taken and its box opened within a few ticks.
    ASSERT_TRUE(testing::eventually([&] { return !fs::exists(spool + "AB.1.T"); }, 15000)) << agent.err();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    agent.signal(SIGTERM);
    const bool closed = testing::eventually(
        [&] { return logs_of(work).find(" Chiusura VELARION") != std::string::npos; }, 15000);
    EXPECT_TRUE(closed) << logs_of(work);
    if (!closed) agent.signal(SIGKILL);  // still waiting for a click: not for ever
    EXPECT_EQ(agent.wait(), closed ? 0 : -1);
}

TEST(WindowSignal, TheBoxOfASecondInstanceClosesOnEachStopSignal) {
    testing::TempDir root;
    const std::string spool = root / "spool/", work = root / "tempozip/", cfg = root / "cfg/";
    fs::create_directories(spool);
    fs::create_directories(work);
    fs::create_directories(root / "run");
    write_file(cfg + "velarion.ini", "[AB]\nEMailAddr=ab@example.com\nPath=" + spool + "\ntempozip_dir=" + work +
                                         "\n[GLOBAL]\nTiming=1000\n[MAPI]\nclient=Posta\n");
    const std::vector<std::string> env{"HOME=" + root / "home", "XDG_RUNTIME_DIR=" + root / "run",
                                       "XDG_CONFIG_HOME=" + root / "config", "QT_QPA_PLATFORM=offscreen"};
    const std::vector<std::string> args{std::string(VELARION_BIN_DIR) + "/velarion", "ini:" + cfg, "ope:AB"};
    testing::BackgroundProcess first(args, env);
    ASSERT_TRUE(testing::eventually([&] { return logs_of(work).find(" Operatore = AB") != std::string::npos; }, 15000));
    for (const int sig : {SIGTERM, SIGHUP, SIGINT}) {
        // "Programma gia' in esecuzione" waits for a click; the signal closes it.
        testing::BackgroundProcess second(args, env);
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        second.signal(sig);
        std::atomic<int> status{-2};
        std::thread waiter([&] { status = second.wait(); });
        const bool ended = testing::eventually([&] { return status != -2; }, 15000);
        if (!ended) second.signal(SIGKILL);  // still waiting for a click: not for ever
        waiter.join();
        EXPECT_TRUE(ended) << "signal " << sig;
        EXPECT_EQ(status.load(), 1) << "signal " << sig;
    }
    first.signal(SIGTERM);
    EXPECT_EQ(first.wait(), 0);
}

}  // namespace
}  // namespace velarion
