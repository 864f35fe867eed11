// The whole program (build/bin/velarion) under the faults an operator meets:
// killed with SIGKILL at several points, two agents on one spool, a mail
// server that is down for a while, spool files that vanish or cannot be
// read, and the signals of a session's end. Every message ends delivered
// once or parked, never lost.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "platform/os/process.h"
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

// A temporary installation of operator AB with a maildir drafts store; its
// agents run as second instances ("plus:y"), so that two can share the spool.
struct Site : testing::AgentSite {
    explicit Site(const std::string& mapi = "", const std::string& global = "") {
        configure(global, "[MAPI]\nclient=Microsoft Outlook\n" +
                              (mapi.find("store=") == std::string::npos ? "store=maildir://localhost" + posta + "\n" : "") +
                              mapi);
    }
    std::vector<std::string> args(const std::vector<std::string>& extra = {}) const {
        std::vector<std::string> a{"plus:y"};
        a.insert(a.end(), extra.begin(), extra.end());
        return AgentSite::args(a);
    }
    testing::ProcessResult once() const { return run_program(args({"--once"}), env()); }

    // A message to `to` (one per test message, so that deliveries can be
    // counted), with ordinary attachments or a print file; the trigger last.
    void message(const std::string& base, const std::string& to,
                 const std::vector<std::pair<std::string, std::string>>& attachments = {},
                 const std::string& option = "SAVE", const std::string& style = ".") const {
        std::string h = "RF" + base + "\r\n\r\nab@example.com\r\n" + to + "\r\nMessaggio " + base + "\r\n" + style + "\r\n" +
                        option + "\r\n" + (style == "." ? "" : "-\r\n");
        for (std::size_t i = 0; i < attachments.size(); ++i) {
            h += attachments[i].first + "\r\n";
            write_file(spool + base + "." + std::to_string(i), attachments[i].second);
        }
        write_file(spool + base + ".h", h);
        write_file(spool + base + ".b", "Testo di " + base + "\r\n");
        write_file(spool + base + ".T", "");
    }
};

// Lines of a listing long enough that its composition is still under way
// when the first progress line appears.
std::string long_listing(int lines) {
    std::string out;
    for (int i = 0; i < lines; ++i) {
        std::string line = "RIGA " + std::to_string(i);
        line.resize(131, ' ');
        out += line + "|\r\n";
    }
    return out;
}

// Keeps appending to a file, as a business program still writing it, so that
// the agent stays in that file's size check until the test is done with it.
class Appender {
public:
    explicit Appender(std::string path) : path_(std::move(path)), thread_([this] { run(); }) {}
    ~Appender() { stop(); }
    Appender(const Appender&) = delete;
    Appender& operator=(const Appender&) = delete;
    void stop() {
        if (!stop_.exchange(true)) thread_.join();
    }

private:
    void run() {
        while (!stop_) {
            std::ofstream(path_, std::ios::app) << ' ';
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    std::string path_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(CrashSafety, KilledInTheSizeCheckTheMessageIsDeliveredOnceAtTheNextStart) {
    Site s;
    s.message("AB.1", "uno@example.it");
    s.message("AB.2", "due@example.it", {{"DATI.CSV", "a;b;c\r\n"}});
    {
        Appender writing(s.spool + "AB.2.0");
        BackgroundProcess agent(s.args(), s.env());
        ASSERT_TRUE(agent.wait_for(" Dimensione iniziale " + s.spool + "AB.2.0", 10000)) << agent.out() << agent.err();
        agent.signal(SIGKILL);
        agent.wait();
    }
    // The first message's lines reached the log file before the kill.
    EXPECT_NE(s.log().find(" Salvato AB.1 - uno@example.it"), std::string::npos) << s.log();
    EXPECT_EQ(s.drafts(), (std::map<std::string, int>{{"uno@example.it", 1}}));

    const auto r = s.once();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(" Messaggio AB.2 ripreso: l'agente "), std::string::npos) << r.out;
    EXPECT_EQ(s.drafts(), (std::map<std::string, int>{{"due@example.it", 1}, {"uno@example.it", 1}}));
    EXPECT_EQ(s.waiting(), 0);
    EXPECT_TRUE(s.parked().empty());
}

TEST(CrashSafety, AMessageThatKillsTheAgentTwiceIsParkedAndCanBeResubmitted) {
    Site s;
    s.message("AB.3", "tre@example.it", {{"DATI.CSV", "x"}});
    Appender writing(s.spool + "AB.3.0");
    for (int kill = 0; kill < 2; ++kill) {
        BackgroundProcess agent(s.args(), s.env());
        ASSERT_TRUE(agent.wait_for(" Dimensione iniziale ", 10000)) << agent.out() << agent.err();
        agent.signal(SIGKILL);
        agent.wait();
    }
    writing.stop();
    auto r = s.once();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(" Messaggio AB.3 interrotto due volte: non inviato"), std::string::npos) << r.out;
    ASSERT_EQ(s.parked().size(), 1u) << r.out;
    EXPECT_TRUE(s.drafts().empty());
    EXPECT_EQ(s.waiting(), 0);

    // One command hands it back; the next run delivers it.
    r = run_program({kVelarion, "--resubmit", s.parked()[0]}, s.env());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("messaggio AB.3 riconsegnato alla spool " + s.spool), std::string::npos) << r.out;
    EXPECT_TRUE(s.parked().empty());
    r = s.once();
    EXPECT_EQ(s.drafts(), (std::map<std::string, int>{{"tre@example.it", 1}})) << r.out;
}

TEST(CrashSafety, KilledWhileComposingALargePrintFile) {
    Site s;
    s.message("AB.4", "quattro@example.it", {{"LISTA1.txt", long_listing(60000)}}, "SAVE", "TABULATO");
    {
        BackgroundProcess agent(s.args(), s.env());
        ASSERT_TRUE(agent.wait_for(" % - Sto elaborando la riga 2000\n", 20000)) << agent.out() << agent.err();
        agent.signal(SIGKILL);
        agent.wait();
    }
    EXPECT_TRUE(s.drafts().empty());
    const auto r = s.once();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(" Creato il file PDF " + s.work + "LISTA1.pdf"), std::string::npos) << r.out;
    EXPECT_EQ(s.drafts(), (std::map<std::string, int>{{"quattro@example.it", 1}}));
    EXPECT_EQ(s.waiting(), 0);
}

TEST(CrashSafety, KilledInTheSmtpDataPhaseTheMessageGoesOnceAtTheNextStart) {
    testing::SmtpServer smtp;
    if (!smtp.skip_reason().empty()) GTEST_SKIP() << smtp.skip_reason();
    // The server never sees the end of the first message's data.
    testing::StallProxy proxy(smtp.port(), "\\r\\n.\\r\\n", 1);
    proxy.start();
    ASSERT_TRUE(proxy.skip_reason().empty()) << proxy.skip_reason();
    Site s("transport=smtp://127.0.0.1:" + std::to_string(proxy.port()) + "\n");
    s.message("AB.5", "cinque@example.it", {{"DATI.CSV", std::string(200000, 'd')}}, "SEND");
    {
        BackgroundProcess agent(s.args(), s.env());
        ASSERT_TRUE(proxy.wait_stalled(15000)) << agent.out() << agent.err();
        agent.signal(SIGKILL);
        agent.wait();
    }
    const auto r = s.once();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(" Inviato AB.5 - cinque@example.it"), std::string::npos) << r.out;
    const auto got = smtp.messages(1);
    EXPECT_EQ(got.size(), 1u);
    EXPECT_EQ(s.waiting(), 0);
}

TEST(CrashSafety, KilledWhileSavingADraftOnImap) {
    testing::ImapServer imap;
    if (!imap.skip_reason().empty()) GTEST_SKIP() << imap.skip_reason();
    testing::StallProxy proxy(imap.port(), "APPEND", 1);
    proxy.start();
    ASSERT_TRUE(proxy.skip_reason().empty()) << proxy.skip_reason();
    Site s("store=imap://" + imap.user() + ":" + imap.password() + "@127.0.0.1:" + std::to_string(proxy.port()) + "\n");
    s.message("AB.6", "sei@example.it");
    {
        BackgroundProcess agent(s.args(), s.env());
        ASSERT_TRUE(proxy.wait_stalled(15000)) << agent.out() << agent.err();
        agent.signal(SIGKILL);
        agent.wait();
    }
    EXPECT_TRUE(imap.message_files("Drafts").empty());
    const auto r = s.once();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(imap.message_files("Drafts").size(), 1u) << r.out;
    EXPECT_EQ(s.waiting(), 0);
}

TEST(CrashSafety, AnImapServerDownThenUpGetsTheMessageWithoutAnyoneTouchingTheAgent) {
    testing::ImapServer imap;
    if (!imap.skip_reason().empty()) GTEST_SKIP() << imap.skip_reason();
    // The server's address answers only once the proxy in front of it starts.
    testing::StallProxy gate(imap.port(), "", 0);
    Site s("store=imap://" + imap.user() + ":" + imap.password() + "@127.0.0.1:" + std::to_string(gate.port()) + "\n",
           "retry_delays=1s\n");
    s.message("AB.7", "sette@example.it");
    BackgroundProcess agent(s.args(), s.env());
    ASSERT_TRUE(agent.wait_for(" Server di posta non raggiungibile: ", 10000)) << agent.out() << agent.err();
    // A few more tries while it is down: no line for them, nothing parked.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    gate.start();
    ASSERT_TRUE(gate.skip_reason().empty()) << gate.skip_reason();
    EXPECT_TRUE(eventually([&] { return imap.message_files("Drafts").size() == 1; }, 15000)) << agent.out();
    ASSERT_TRUE(agent.wait_for(" Consegna di nuovo possibile", 5000)) << agent.out();
    // SIGHUP closes the agent as closing the window does.
    agent.signal(SIGHUP);
    EXPECT_EQ(agent.wait(), 0);
    const std::string out = agent.out();
    EXPECT_EQ(count(out, " Server di posta non raggiungibile: "), 1) << out;
    EXPECT_EQ(count(out, "Accesso Fallito"), 0) << out;
    EXPECT_NE(out.find(" Chiusura VELARION\n"), std::string::npos);
    EXPECT_TRUE(s.parked().empty());
    EXPECT_EQ(s.waiting(), 0);
}

// Two agents on the site until no message waits, then ended as a session's
// end ends them; what each said.
std::pair<std::string, std::string> run_two_agents(const Site& s) {
    BackgroundProcess first(s.args(), s.env());
    BackgroundProcess second(s.args(), s.env());
    EXPECT_TRUE(eventually([&] { return s.waiting() == 0; }, 90000)) << s.waiting();
    first.signal(SIGTERM);
    second.signal(SIGTERM);
    EXPECT_EQ(first.wait(), 0);
    EXPECT_EQ(second.wait(), 0);
    return {first.out(), second.out()};
}

TEST(CrashSafety, TwoAgentsOnOneSpoolHandleEachOf200MessagesOnce) {
    Site s;
    constexpr int kMessages = 200;
    for (int i = 0; i < kMessages; ++i) s.message("AB." + std::to_string(1000 + i), "m" + std::to_string(i) + "@example.it");
    const auto [a, b] = run_two_agents(s);
    // What the agents said besides their drafts, should a count not match.
    std::string other_lines;
    for (const std::string* out : {&a, &b}) {
        std::istringstream in(*out);
        for (std::string l; std::getline(in, l);)
            if (l.find(" Salvato ") == std::string::npos) other_lines += l + "\n";
    }
    const auto drafts = s.drafts();
    EXPECT_EQ(drafts.size(), static_cast<std::size_t>(kMessages)) << other_lines;
    for (const auto& [to, n] : drafts) EXPECT_EQ(n, 1) << to;
    EXPECT_EQ(count(a, " Salvato ") + count(b, " Salvato "), kMessages);
    // Both took part, and neither's clean-up spoilt a message of the other.
    EXPECT_GT(count(a, " Salvato "), 0);
    EXPECT_GT(count(b, " Salvato "), 0);
    EXPECT_TRUE(s.parked().empty()) << other_lines;
}

// The PDF attached to each draft, by recipient, as text (pdftotext).
std::map<std::string, std::string> draft_pdf_texts(const Site& s) {
    TempDir out;
    testing::write_file(out / "extract.py", R"PY(
import os, sys
from email import policy
from email.parser import BytesParser
for top, _, files in os.walk(sys.argv[1]):
    if os.path.basename(top) not in ('cur', 'new'):
        continue
    for f in files:
        m = BytesParser(policy=policy.default).parse(open(os.path.join(top, f), 'rb'))
        for part in m.iter_attachments():
            if (part.get_filename() or '').lower().endswith('.pdf'):
                open(os.path.join(sys.argv[2], str(m['to']) + '.pdf'), 'wb').write(part.get_content())
)PY");
    process::run_capture({"/usr/bin/python3", out / "extract.py", s.posta, out.path()});
    std::map<std::string, std::string> texts;
    for (const auto& e : fs::directory_iterator(out.path())) {
        if (e.path().extension() != ".pdf") continue;
        const auto text = process::run_capture({"/usr/bin/pdftotext", e.path().string(), "-"});
        texts[e.path().stem().string()] = text ? *text : "";
    }
    return texts;
}

TEST(CrashSafety, TwoAgentsOnOneWorkFolderEachProtectOnlyTheirOwnDocuments) {
    // Protection makes cripato.pdf in the shared work folder for every
    // document: without turns, one agent's protected file could take the
    // place of another's document.
    Site s;
    write_file(s.root / "loghi/loghi.ini", "[TABULATO]\nforzatura=o\n[PDFCRIPT]\nPasswordFISSA=segreto\n");
    constexpr int kMessages = 30;
    for (int i = 0; i < kMessages; ++i) {
        const std::string n = std::to_string(100 + i);
        std::string listing;
        for (int row = 0; row < 40; ++row) listing += "DOCUMENTO-" + n + " RIGA " + std::to_string(row) + "\r\n";
        s.message("AB." + n, "m" + n + "@example.it", {{"STAMPA" + n + ".txt", listing}}, "SAVE", "TABULATO");
    }
    const auto [a, b] = run_two_agents(s);
    const std::string said = a + b;
    EXPECT_EQ(count(said, " Errore Cripto il file "), 0) << said;
    EXPECT_GT(count(a, " Salvato "), 0);
    EXPECT_GT(count(b, " Salvato "), 0);
    const auto texts = draft_pdf_texts(s);
    ASSERT_EQ(texts.size(), static_cast<std::size_t>(kMessages)) << said;
    for (const auto& [to, text] : texts) {
        const std::string n = to.substr(1, 3);
        EXPECT_EQ(count(text, "DOCUMENTO-" + n + " "), 40) << to << ":\n" << text;
        EXPECT_EQ(count(text, "DOCUMENTO-"), 40) << to;
    }
}

// As root every file can be read: the agent then runs as "nobody" for the
// unreadable file to be unreadable to it.
std::vector<std::string> as_unprivileged(const Site& s, std::vector<std::string> args) {
    if (::getuid() != 0) return args;
    for (const auto& e : fs::recursive_directory_iterator(s.root.path()))
        fs::permissions(e.path(), e.is_directory() ? fs::perms::all : fs::perms::owner_all | fs::perms::others_all,
                        fs::perm_options::add);
    fs::permissions(s.root.path(), fs::perms::all, fs::perm_options::add);
    args.insert(args.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    return args;
}

TEST(CrashSafety, AVanishedFileAndAnUnreadableFileDoNotStopTheNextMessages) {
    Site s;
    s.message("AB.1", "illeggibile@example.it");
    s.message("AB.2", "due@example.it");
    s.message("AB.3", "svanito@example.it", {{"DATI.CSV", "x"}});
    s.message("AB.4", "quattro@example.it");
    if (::getuid() == 0 && !fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "setpriv is missing";
    auto args = as_unprivileged(s, s.args());
    fs::permissions(s.spool + "AB.1.h", fs::perms::none);
    Appender writing(s.spool + "AB.3.0");
    BackgroundProcess agent(args, s.env());
    ASSERT_TRUE(agent.wait_for(" Dimensione iniziale " + s.spool + "AB.3.0", 10000)) << agent.out() << agent.err();
    writing.stop();
    fs::remove(s.spool + "AB.3.0");
    ASSERT_TRUE(agent.wait_for(" Salvato AB.4 - quattro@example.it", 10000)) << agent.out() << agent.err();
    agent.signal(SIGTERM);
    EXPECT_EQ(agent.wait(), 0);
    EXPECT_EQ(s.drafts(), (std::map<std::string, int>{{"due@example.it", 1}, {"quattro@example.it", 1}}));
    const auto parked = s.parked();
    ASSERT_EQ(parked.size(), 2u) << agent.out();
    EXPECT_TRUE(fs::exists(parked[0] + "originale/AB.1.h"));  // moved, as it could not be copied
    EXPECT_TRUE(fs::exists(parked[1] + "originale/AB.3.h"));
    EXPECT_EQ(s.waiting(), 0);
    EXPECT_EQ(agent.out().find("disattivato"), std::string::npos);
}

TEST(CrashSafety, SessionEndSignalsCloseTheWindowAgent) {
    for (int sig : {SIGHUP, SIGTERM}) {
        Site s;
        BackgroundProcess agent({kVelarion, "ini:" + s.cfg, "ope:AB"},
                                {"HOME=" + s.root / "home", "XDG_RUNTIME_DIR=" + s.root / "run",
                                 "QT_QPA_PLATFORM=offscreen"});
        ASSERT_TRUE(eventually([&] { return s.log().find(" Operatore = AB") != std::string::npos; }, 15000))
            << agent.err();
        agent.signal(sig);
        EXPECT_EQ(agent.wait(), 0) << sig;
        EXPECT_NE(s.log().find(" Chiusura VELARION\n"), std::string::npos) << sig << s.log();
    }
}

}  // namespace
}  // namespace velarion
