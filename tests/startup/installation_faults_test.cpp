// The whole program (build/bin/velarion) on a machine that is not kind to
// it: a work folder on a small file system that fills up, folders of its own
// removed under it, a wall clock stepped back, and a message killed twice
// while its server had it. Every message ends delivered once, or parked with
// a reason that tells the truth; none is parked for the installation's fault.
#include <signal.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include <gtest/gtest.h>

#include "support/background_process.h"
#include "support/fault_servers.h"
#include "support/mail_servers.h"
#include "support/agent_site.h"
#include "support/spool_state.h"
#include "support/test_support.h"

namespace velarion {
namespace {

namespace fs = std::filesystem;
using testing::BackgroundProcess;
using testing::eventually;
using testing::read_file;
using testing::run_program;
using testing::TempDir;
using testing::write_file;

const std::string kVelarion = std::string(VELARION_BIN_DIR) + "/velarion";

// An installation of operator AB: drafts into a maildir, or the [MAPI] lines given.
struct Site : testing::AgentSite {
    explicit Site(const std::string& mapi = "", const std::string& global = "retry_delays=1s\n") {
        configure(global, "[MAPI]\nclient=Microsoft Outlook\n" +
                              (mapi.empty() ? "store=maildir://localhost" + posta + "\n" : mapi));
    }
    // A message to `to`, with one attachment DATI.CSV when `attachment` is given.
    void message(const std::string& base, const std::string& to, const std::string& attachment = "",
                 const std::string& option = "SAVE") const {
        std::string h = "RF" + base + "\r\n\r\nab@example.com\r\n" + to + "\r\nMessaggio " + base + "\r\n.\r\n" +
                        option + "\r\n";
        if (!attachment.empty()) {
            h += "DATI.CSV\r\n";
            write_file(spool + base + ".0", attachment);
        }
        write_file(spool + base + ".h", h);
        write_file(spool + base + ".b", "Testo di " + base + "\r\n");
        write_file(spool + base + ".T", "");
    }
};

// A tmpfs of `bytes` mounted on a folder for the test's life.
class SmallFileSystem {
public:
    SmallFileSystem(const std::string& dir, std::size_t bytes) : dir_(dir) {
        const std::string options = "size=" + std::to_string(bytes);
        if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) == 0)
            mounted_ = true;
        else
            why_ = std::string("cannot mount a tmpfs here (") + std::strerror(errno) + "): needs root or CAP_SYS_ADMIN";
    }
    ~SmallFileSystem() {
        if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
    }
    const std::string& skip_reason() const { return why_; }

    // Fills it until no more than `leave` bytes are free (in a folder, which
    // the work folder's clean-up leaves alone).
    void fill(std::size_t leave) {
        fs::create_directories(dir_ + "riempitivo");
        std::ofstream out(dir_ + "riempitivo/pieno.dat", std::ios::binary);
        const std::string block(4096, 'x');
        while (fs::space(dir_).available > leave + block.size() && out.write(block.data(), block.size())) out.flush();
        if (leave == 0)
            while (out.write(block.data(), block.size()) && out.flush()) {
            }
    }
    void free_space() { fs::remove_all(dir_ + "riempitivo"); }

private:
    std::string dir_;
    bool mounted_ = false;
    std::string why_;
};

int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Messages written while the work folder is full wait, and go once there is room.
void full_then_freed(std::size_t leave, const std::string& attachment) {
    Site s;
    SmallFileSystem small(s.work, 4 * 1024 * 1024);
    if (!small.skip_reason().empty()) GTEST_SKIP() << small.skip_reason();
    small.fill(leave);
    for (int i = 1; i <= 3; ++i) s.message("AB." + std::to_string(i), "m" + std::to_string(i) + "@example.it", attachment);
    BackgroundProcess agent(s.args(), s.env());
    ASSERT_TRUE(agent.wait_for(" Spazio esaurito in " + s.work, 20000)) << agent.out() << agent.err();
    ASSERT_TRUE(agent.wait_for(" Messaggio AB.3 in attesa: ", 20000)) << agent.out();
    // Nothing left the spool, nothing was parked.
    for (int i = 1; i <= 3; ++i)
        for (const char* suffix : {".h", ".b"})
            EXPECT_TRUE(fs::exists(s.spool + "AB." + std::to_string(i) + suffix)) << agent.out();
    EXPECT_TRUE(s.parked().empty());
    EXPECT_EQ(s.waiting(), 3);

    small.free_space();
    EXPECT_TRUE(eventually([&] { return s.waiting() == 0; }, 30000)) << agent.out();
    agent.signal(SIGTERM);
    EXPECT_EQ(agent.wait(), 0);
    EXPECT_EQ(s.drafts(), (std::map<std::string, int>{{"m1@example.it", 1}, {"m2@example.it", 1}, {"m3@example.it", 1}}))
        << agent.out();
    EXPECT_TRUE(s.parked().empty()) << agent.out();
    EXPECT_EQ(count(agent.out(), " Spazio esaurito in " + s.work + ": i messaggi restano nella spool"), 1) << agent.out();
    EXPECT_NE(agent.out().find(" Spazio di nuovo disponibile"), std::string::npos) << agent.out();
}

TEST(InstallationFaults, AWorkFolderFilledToTheLastByteThenFreed) { full_then_freed(0, ""); }

TEST(InstallationFaults, AWorkFolderWithLessRoomThanOneMessageThenFreed) {
    full_then_freed(100 * 1024, std::string(600 * 1024, 'd'));
}

TEST(InstallationFaults, AFullSpoolFileSystemDoesNotMakeEveryTickATry) {
    TempDir ctl;
    const std::string refuse = ctl / "rifiuta";
    write_file(refuse, "");
    testing::TempFailSmtp smtp("", refuse);
    if (!smtp.skip_reason().empty()) GTEST_SKIP() << smtp.skip_reason();
    Site s("transport=" + smtp.url() + "\n", "retry_delays=2s\n");
    SmallFileSystem small(s.spool, 1024 * 1024);
    if (!small.skip_reason().empty()) GTEST_SKIP() << small.skip_reason();
    s.message("AB.1", "uno@example.it", "", "SEND");
    fs::create_directories(s.spool + "coda/agenti");
    small.fill(0);  // no record can be written
    BackgroundProcess agent(s.args(), s.env());
    ASSERT_TRUE(agent.wait_for(" Messaggio rinviato AB.1 tentativo 1: ", 15000)) << agent.out() << agent.err();
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));  // 30 ticks, one delay and a half
    const std::string out = agent.out();
    EXPECT_LE(count(out, " Messaggio rinviato AB.1 "), 3) << out;
    EXPECT_NE(out.find(" Impossibile scrivere il record del messaggio AB.1 in " + s.spool + "coda/"), std::string::npos)
        << out;
    fs::remove(refuse);
    EXPECT_EQ(smtp.messages(1, 15000).size(), 1u) << agent.out();
    agent.signal(SIGTERM);
    EXPECT_EQ(agent.wait(), 0);
    EXPECT_TRUE(s.parked().empty()) << agent.out();
}

TEST(InstallationFaults, FoldersRemovedUnderARunningAgentAreMadeAgain) {
    Site s;
    s.message("AB.1", "uno@example.it");
    BackgroundProcess agent(s.args(), s.env());
    ASSERT_TRUE(eventually([&] { return s.drafts().size() == 1; }, 15000)) << agent.out();

    // The work folder deleted and made again, empty.
    ASSERT_TRUE(eventually([&] {
        std::error_code ec;
        fs::remove_all(s.work, ec);  // the agent may be writing its log there at that moment
        return !fs::exists(s.work);
    }, 5000));
    fs::create_directories(s.work);
    s.message("AB.2", "due@example.it");
    ASSERT_TRUE(eventually([&] { return s.drafts().size() == 2; }, 15000)) << agent.out();

    // The spool's queue folder removed.
    ASSERT_TRUE(eventually([&] { return s.waiting() == 0; }, 5000));
    fs::remove_all(s.spool + "coda");
    s.message("AB.3", "tre@example.it");
    ASSERT_TRUE(eventually([&] { return s.drafts().size() == 3; }, 15000)) << agent.out();

    agent.signal(SIGTERM);
    EXPECT_EQ(agent.wait(), 0);
    const std::string out = agent.out();
    EXPECT_EQ(s.drafts(), (std::map<std::string, int>{{"due@example.it", 1}, {"tre@example.it", 1}, {"uno@example.it", 1}}));
    EXPECT_NE(out.find(" Cartella mancante " + s.work + "in_lavorazione/: ricreata"), std::string::npos) << out;
    EXPECT_NE(out.find(" Cartella mancante " + s.spool + "coda/: ricreata"), std::string::npos) << out;
    EXPECT_TRUE(s.parked().empty()) << out;
}

TEST(InstallationFaults, AClockSteppedBackAnHourDoesNotHoldDeferredMessages) {
    const std::string faketime = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1";
    if (!fs::exists(faketime)) GTEST_SKIP() << "libfaketime is missing (Debian package faketime)";
    TempDir ctl;
    const std::string refuse = ctl / "rifiuta", offset = ctl / "scarto";
    write_file(refuse, "");
    write_file(offset, "+0\n");
    testing::TempFailSmtp smtp("", refuse);
    if (!smtp.skip_reason().empty()) GTEST_SKIP() << smtp.skip_reason();
    Site s("transport=" + smtp.url() + "\n", "retry_delays=2s\n");
    s.message("AB.1", "uno@example.it", "", "SEND");
    s.message("AB.2", "due@example.it", "", "SEND");
    // The wall clock only: a real step leaves the monotonic clock alone.
    BackgroundProcess agent(s.args(), s.env({"LD_PRELOAD=" + faketime, "FAKETIME_TIMESTAMP_FILE=" + offset,
                                              "FAKETIME_NO_CACHE=1", "FAKETIME_DONT_FAKE_MONOTONIC=1"}));
    ASSERT_TRUE(agent.wait_for(" Messaggio rinviato AB.2 tentativo 1: ", 20000)) << agent.out() << agent.err();
    write_file(offset, "-3600\n");
    fs::remove(refuse);
    const auto got = smtp.messages(2, 20000);
    EXPECT_EQ(got.size(), 2u) << agent.out();
    ASSERT_TRUE(eventually([&] { return s.waiting() == 0; }, 5000)) << agent.out();
    agent.signal(SIGTERM);
    EXPECT_EQ(agent.wait(), 0);
    EXPECT_EQ(smtp.messages(2, 0).size(), 2u);
    EXPECT_TRUE(s.parked().empty()) << agent.out();
}

TEST(InstallationFaults, AMessageKilledTwiceWhileItsServerHadItNeedsForceToGoBack) {
    testing::SmtpServer smtp;
    if (!smtp.skip_reason().empty()) GTEST_SKIP() << smtp.skip_reason();
    // The server never sees the end of the data of the first two connections.
    testing::StallProxy proxy(smtp.port(), "\\r\\n.\\r\\n", 2);
    proxy.start();
    ASSERT_TRUE(proxy.skip_reason().empty()) << proxy.skip_reason();
    Site s("transport=smtp://127.0.0.1:" + std::to_string(proxy.port()) + "\n");
    s.message("AB.5", "cinque@example.it", "", "SEND");
    for (int kill = 0; kill < 2; ++kill) {
        BackgroundProcess agent(s.args(), s.env());
        ASSERT_TRUE(eventually([&] { return proxy.stalls() > kill; }, 15000))
            << agent.out() << agent.err();
        agent.signal(SIGKILL);
        agent.wait();
    }
    // The line said just before the second kill reached the log file.
    std::string log;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(s.work + "log", ec)) log += read_file(e.path().string());
    EXPECT_NE(log.find(" Messaggio AB.5 ripreso: l'agente "), std::string::npos) << log;

    auto r = run_program(s.args({"--once"}), s.env());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(" Messaggio AB.5 interrotto due volte: non inviato (potrebbe essere gia' stato consegnato)"),
              std::string::npos)
        << r.out;
    ASSERT_EQ(s.parked().size(), 1u) << r.out;
    EXPECT_NE(read_file(s.parked()[0] + "motivo.txt").find("\nforse_consegnato=si\n"), std::string::npos);

    r = run_program({kVelarion, "--resubmit", s.parked()[0]}, s.env());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("potrebbe essere gia' stato consegnato: per riconsegnarlo comunque usare --resubmit --force"),
              std::string::npos)
        << r.err;
    r = run_program({kVelarion, "--resubmit", s.parked()[0], "--force"}, s.env());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(s.spool + "AB.5.T"));
}

}  // namespace
}  // namespace velarion
