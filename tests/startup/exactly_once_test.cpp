// The whole program (build/bin/velarion) delivering each message exactly
// once when the spool's file system refuses the rename that concludes a
// delivered message, when it is killed before the end of a message's data,
// and how it stops and keeps the service manager informed during a long
// burst to a slow server.
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <filesystem>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "support/agent_site.h"
#include "support/background_process.h"
#include "support/fault_servers.h"
#include "support/mail_servers.h"
#include "support/test_support.h"

namespace velarion {
namespace {

namespace fs = std::filesystem;
using testing::BackgroundProcess;
using testing::count_of;
using testing::eventually;
using testing::read_file;
using testing::run_program;

// Operator AB sending through an SMTP server.
struct Site : testing::AgentSite {
    explicit Site(const std::string& transport, const std::string& global = "retry_delays=1s\n") {
        configure(global, "[MAPI]\nclient=Microsoft Outlook\ntransport=" + transport + "\n");
    }
    void messages(int n) const {
        for (int i = 1; i <= n; ++i) message("AB." + std::to_string(i), "m" + std::to_string(i) + "@example.it", "SEND");
    }
    // The preload library that refuses the renames into the concluded state.
    std::vector<std::string> refusing(const std::string& every) const {
        return env({"LD_PRELOAD=" VELARION_REFUSE_RENAME, "REFUSE_RENAME_MATCH=@concluso",
                    "REFUSE_RENAME_EVERY=" + every});
    }
};

// How many times the server received each message AB.1 to AB.n.
std::map<int, int> received(const testing::SmtpServer& smtp, int n) {
    std::string all;
    for (const auto& m : smtp.messages(0, 0)) all += m;
    std::map<int, int> got;
    for (int i = 1; i <= n; ++i) {
        const std::string subject = "Subject: RIF:RFAB." + std::to_string(i) + " - Messaggio AB." + std::to_string(i);
        got[i] = count_of(all, subject + "\n") + count_of(all, subject + "\r\n");
    }
    return got;
}

std::map<int, int> once_each(int n) {
    std::map<int, int> m;
    for (int i = 1; i <= n; ++i) m[i] = 1;
    return m;
}

TEST(ExactlyOnce, ConcludingRenamesRefusedDeliverEachMessageOnce) {
    testing::SmtpServer smtp;
    if (!smtp.skip_reason().empty()) GTEST_SKIP() << smtp.skip_reason();
    Site s(smtp.url());
    s.messages(12);
    BackgroundProcess agent(s.args(), s.refusing("3"));
    ASSERT_TRUE(eventually([&] { return s.waiting() == 0 && smtp.messages(0, 0).size() >= 12; }, 60000))
        << agent.out() << agent.err();
    agent.signal(SIGTERM);
    EXPECT_EQ(agent.wait(), 0);
    EXPECT_EQ(received(smtp, 12), once_each(12)) << agent.out();
    EXPECT_GE(count_of(agent.out(), " consegnato ma non registrato in " + s.spool + "coda/"), 3) << agent.out();
    EXPECT_NE(agent.out().find(" consegnato: registrato in " + s.spool + "coda/"), std::string::npos);
    EXPECT_TRUE(s.parked().empty()) << agent.out();
    // Nothing of the messages is left in the spool.
    for (int i = 1; i <= 12; ++i) EXPECT_FALSE(fs::exists(s.spool + "AB." + std::to_string(i) + ".h")) << i;
}

TEST(ExactlyOnce, AnAgentKilledBeforeItsConclusionIsRecordedLeavesNothingToSendAgain) {
    testing::SmtpServer smtp;
    if (!smtp.skip_reason().empty()) GTEST_SKIP() << smtp.skip_reason();
    Site s(smtp.url());
    s.messages(1);
    {
        // Every concluding rename refused: the record says the server has it.
        BackgroundProcess agent(s.args(), s.refusing("1"));
        ASSERT_TRUE(agent.wait_for(" Messaggio AB.1 consegnato ma non registrato in ", 30000)) << agent.out();
        EXPECT_NE(read_file(s.spool + "coda/AB.1.T.stato").find("consegnato=1\n"), std::string::npos);
        agent.signal(SIGKILL);
        agent.wait();
    }
    // Another run (another agent, to the queue) concludes it without sending it.
    const auto r = s.once();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(" Messaggio AB.1 gia' consegnato dall'agente "), std::string::npos) << r.out;
    EXPECT_EQ(received(smtp, 1), once_each(1)) << r.out;
    EXPECT_EQ(s.waiting(), 0);
    EXPECT_FALSE(fs::exists(s.spool + "AB.1.h"));
    EXPECT_TRUE(s.parked().empty());
}

TEST(ExactlyOnce, AKillBeforeTheEndOfTheDataIsAPlainInterruption) {
    testing::SmtpServer smtp;
    if (!smtp.skip_reason().empty()) GTEST_SKIP() << smtp.skip_reason();
    // The first two connections hang at the recipients.
    testing::StallProxy proxy(smtp.port(), "RCPT TO", 2);
    proxy.start();
    ASSERT_TRUE(proxy.skip_reason().empty()) << proxy.skip_reason();
    Site s("smtp://127.0.0.1:" + std::to_string(proxy.port()));
    s.messages(1);
    for (int kill = 0; kill < 2; ++kill) {
        BackgroundProcess agent(s.args(), s.env());
        ASSERT_TRUE(eventually([&] { return proxy.stalls() > kill; }, 15000)) << agent.out() << agent.err();
        agent.signal(SIGKILL);
        agent.wait();
        // Nothing said the message was being delivered.
        EXPECT_EQ(read_file(s.spool + "coda/AB.1.T.stato").find("in_consegna=1"), std::string::npos);
    }
    auto r = s.once();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(" Messaggio AB.1 interrotto due volte: non inviato"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("potrebbe essere gia' stato consegnato"), std::string::npos) << r.out;
    ASSERT_EQ(s.parked().size(), 1u) << r.out;
    EXPECT_EQ(read_file(s.parked()[0] + "motivo.txt").find("forse_consegnato=si"), std::string::npos);
    // It goes back without --force.
    r = run_program({std::string(VELARION_BIN_DIR) + "/velarion", "--resubmit", s.parked()[0]}, s.env());
    EXPECT_EQ(r.status, 0) << r.err;
}

// A datagram socket standing for the service manager (NOTIFY_SOCKET).
class NotifySocket {
public:
    explicit NotifySocket(const std::string& path) : path_(path) {
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::copy(path.begin(), path.end(), addr.sun_path);
        bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
        timeval tv{0, 50000};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    }
    ~NotifySocket() { close(fd_); }
    // What arrived since the last call.
    std::string receive() {
        std::string got;
        char buf[4096];
        for (ssize_t n; (n = recv(fd_, buf, sizeof(buf), 0)) > 0;) got.append(buf, n).append("|");
        return got;
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
};

TEST(ExactlyOnce, ASlowServerBurstPetsTheWatchdogAndStopsBetweenMessages) {
    testing::SmtpOptions slow;
    slow.data_reply_delay = 2;  // each message waits two seconds for its answer
    testing::SmtpServer smtp(slow);
    if (!smtp.skip_reason().empty()) GTEST_SKIP() << smtp.skip_reason();
    Site s(smtp.url());
    s.messages(8);
    NotifySocket notify(s.root / "notify");
    BackgroundProcess agent(s.args(), s.env({"NOTIFY_SOCKET=" + notify.path(), "WATCHDOG_USEC=400000"}));
    ASSERT_TRUE(eventually([&] { return smtp.messages(0, 0).size() >= 1; }, 30000)) << agent.out() << agent.err();
    notify.receive();
    // Within one scan, between the server's first and third message, the watchdog is petted.
    std::string during;
    ASSERT_TRUE(eventually(
        [&] {
            during += notify.receive();
            return smtp.messages(0, 0).size() >= 3;
        },
        30000))
        << agent.out();
    EXPECT_GE(count_of(during, "WATCHDOG=1"), 2) << during;

    // A stop ends the scan after the message in flight; the others wait in the spool.
    agent.signal(SIGTERM);
    const std::size_t at_stop = smtp.messages(0, 0).size();
    EXPECT_EQ(agent.wait(), 0) << agent.out();
    const std::size_t sent = smtp.messages(0, 0).size();
    EXPECT_LE(sent, at_stop + 1) << agent.out();
    EXPECT_LT(sent, 8u);
    EXPECT_EQ(s.waiting(), static_cast<int>(8 - sent)) << agent.out();
    EXPECT_NE(notify.receive().find("STOPPING=1"), std::string::npos);
    EXPECT_NE(agent.out().find(" Chiusura VELARION"), std::string::npos) << agent.out();
    // The next run sends the rest, each once.
    BackgroundProcess again(s.args(), s.env());
    ASSERT_TRUE(eventually([&] { return s.waiting() == 0 && smtp.messages(0, 0).size() >= 8; }, 60000))
        << again.out();
    again.signal(SIGTERM);
    again.wait();
    EXPECT_EQ(received(smtp, 8), once_each(8));
}

}  // namespace
}  // namespace velarion
