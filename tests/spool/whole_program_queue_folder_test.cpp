// The whole agent against a spool writer who plants things where the agent
// keeps its own state: links and foreign folders in place of the queue
// folder, FIFOs below it, a trigger name too long for a claim, hard links,
// and attachments that name the work folder's files.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/agent_site.h"
#include "support/test_support.h"

namespace velarion {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::run_program;
using testing::write_file;

struct Site : testing::AgentSite {
    Site() { configure("", "[MAPI]\nclient=Microsoft Outlook\nstore=maildir://localhost" + posta + "\n"); }

    // One tick, bounded: an agent that waits on a FIFO fails the test instead of holding it.
    testing::ProcessResult bounded(const std::vector<std::string>& extra) const {
        std::vector<std::string> a{"/usr/bin/timeout", "120"};
        for (const auto& s : args(extra)) a.push_back(s);
        return run_program(a, env());
    }
    testing::ProcessResult tick() const { return bounded({"--once"}); }

    // A message saved as a draft for `to`, with attachment lines and their contents (".0" ...).
    void mail(const std::string& base, const std::string& to, const std::vector<std::string>& attachments = {},
              const std::vector<std::string>& contents = {}) const {
        std::string h = "RF" + base + "\r\n\r\nab@example.com\r\n" + to + "\r\nMessaggio " + base + "\r\n.\r\nSAVE\r\n";
        for (const auto& a : attachments) h += a + "\r\n";
        write_file(spool + base + ".h", h);
        write_file(spool + base + ".b", "Testo di " + base + "\r\n");
        for (std::size_t i = 0; i < contents.size(); ++i) write_file(spool + base + "." + std::to_string(i), contents[i]);
        write_file(spool + base + ".T", "");
    }

    // A folder of the agent's user with files that must survive whatever the agent is shown.
    std::string own_folder() const {
        const std::string own = root / "proprio/";
        write_file(own + "uno", "1");
        write_file(own + "due", "2");
        return own;
    }
};

bool untouched(const std::string& own) {
    int n = 0;
    for (const auto& e : fs::directory_iterator(own)) {
        ++n;
        if (e.path().filename() != "uno" && e.path().filename() != "due") return false;
    }
    return n == 2 && read_file(own + "uno") == "1";
}

TEST(QueueFolder, ALinkOrAnOpenQueueFolderIsRefusedWithOneLineAndNothingRemoved) {
    Site s;
    const std::string own = s.own_folder();
    s.mail("AB.1", "uno@example.com");

    // The queue folder itself a link: no claim is written where it leads.
    fs::create_directory_symlink(own, s.spool + "coda");
    auto r = s.tick();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(" Cartella di coda non sicura " + s.spool +
                         "coda/: e' un collegamento simbolico - nessun messaggio elaborato, nulla rimosso"),
              std::string::npos)
        << r.out;
    EXPECT_TRUE(untouched(own));
    EXPECT_TRUE(fs::exists(s.spool + "AB.1.T"));

    // Its agents' folder a link: the stale-lock clean-up removes nothing there.
    fs::remove(s.spool + "coda");
    fs::create_directory(s.spool + "coda");
    fs::permissions(s.spool + "coda", fs::perms::owner_all);
    fs::create_directory_symlink(own, s.spool + "coda/agenti");
    r = s.tick();
    EXPECT_NE(r.out.find(" Cartella di coda non sicura " + s.spool + "coda/agenti/: e' un collegamento simbolico"),
              std::string::npos)
        << r.out;
    EXPECT_TRUE(untouched(own));

    // Writable by the group: refused, and the lock file of a gone agent stays.
    fs::remove(s.spool + "coda/agenti");
    fs::create_directory(s.spool + "coda/agenti");
    fs::permissions(s.spool + "coda/agenti", fs::perms::owner_all);
    write_file(s.spool + "coda/agenti/finito", "");
    ::chmod((s.spool + "coda").c_str(), 0770);
    r = s.tick();
    EXPECT_NE(r.out.find("coda/: scrivibile da altri utenti (permessi 0770) - nessun messaggio elaborato"),
              std::string::npos)
        << r.out;
    EXPECT_TRUE(fs::exists(s.spool + "coda/agenti/finito"));
    EXPECT_TRUE(s.drafts().empty());
    // The queue command reads nothing there either, and says why.
    r = s.bounded({"--queue"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("scrivibile da altri utenti"), std::string::npos) << r.err;

    // Closed to others again: the message goes, the gone agent's lock is cleared.
    ::chmod((s.spool + "coda").c_str(), 0700);
    r = s.tick();
    EXPECT_EQ(s.drafts()["uno@example.com"], 1) << r.out;
    EXPECT_FALSE(fs::exists(s.spool + "coda/agenti/finito"));
}

TEST(QueueFolder, ARecordThatIsALinkIsNotRead) {
    Site s;
    ASSERT_EQ(s.tick().status, 0);  // the queue folder, made by the agent
    const std::string outside = s.root / "fuori.txt";
    write_file(outside, "tentativi=7\nmotivo=SEGRETO\n");
    write_file(s.spool + "AB.3.h", "RF\r\n\r\nab@example.com\r\nx@example.com\r\nTre\r\n.\r\nSAVE\r\n");
    write_file(s.spool + "coda/AB.3.T@rinvio", "");
    fs::create_symlink(outside, s.spool + "coda/AB.3.T.stato");
    const auto r = s.bounded({"--queue"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("AB.3  rinviato"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("SEGRETO"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("tentativi: 7"), std::string::npos) << r.out;
}

TEST(QueueFolder, FifosBelowTheQueueFolderHoldNeitherTheAgentNorTheQueueCommand) {
    Site s;
    ASSERT_EQ(s.tick().status, 0);
    // A FIFO as a gone agent's lock, with a message it held; a FIFO as the record of a deferred one.
    ASSERT_EQ(::mkfifo((s.spool + "coda/agenti/fantasma").c_str(), 0600), 0);
    s.mail("AB.4", "quattro@example.com");
    fs::rename(s.spool + "AB.4.T", s.spool + "coda/AB.4.T@fantasma");
    s.mail("AB.5", "cinque@example.com");
    fs::rename(s.spool + "AB.5.T", s.spool + "coda/AB.5.T@rinvio");
    ASSERT_EQ(::mkfifo((s.spool + "coda/AB.5.T.stato").c_str(), 0600), 0);

    auto r = s.bounded({"--queue"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("AB.4  interrotto (fantasma)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("AB.5  rinviato"), std::string::npos) << r.out;

    r = s.tick();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(" Messaggio AB.4 ripreso: l'agente fantasma si era interrotto"), std::string::npos) << r.out;
    EXPECT_EQ(s.drafts()["quattro@example.com"], 1) << r.out;
    EXPECT_EQ(s.drafts()["cinque@example.com"], 1) << r.out;
}

TEST(QueueFolder, ATriggerTooLongForAClaimIsParkedAndTheOthersGo) {
    Site s;
    // Sorts before the others, and with "@<agent>" it exceeds a file name.
    const std::string base = "AB.0" + std::string(234, 'x');
    s.mail(base, "lungo@example.com");
    s.mail("AB.2", "due@example.com");
    s.mail("AB.3", "tre@example.com");
    const auto r = s.tick();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(" Nome di messaggio troppo lungo (240 caratteri), messaggio non inviato: " + base),
              std::string::npos)
        << r.out;
    EXPECT_EQ(s.drafts()["due@example.com"], 1);
    EXPECT_EQ(s.drafts()["tre@example.com"], 1);
    EXPECT_EQ(s.drafts().count("lungo@example.com"), 0u);
    ASSERT_EQ(s.parked().size(), 1u);
    // All its files are kept, none is left in the spool or the queue.
    int kept = 0;
    for (const auto& e : fs::directory_iterator(s.parked()[0] + "/originale")) {
        (void)e;
        ++kept;
    }
    EXPECT_EQ(kept, 3);
    for (const auto& e : fs::directory_iterator(s.spool))
        EXPECT_EQ(e.path().filename().string().rfind("AB.0", 0), std::string::npos) << e.path();
    for (const auto& e : fs::directory_iterator(s.spool + "coda"))
        EXPECT_EQ(e.path().filename().string().rfind(".lungo", 0), std::string::npos) << e.path();
}

TEST(QueueFolder, HardLinksAndTheWorkFolderAreNoAttachments) {
    Site s;
    ASSERT_EQ(s.tick().status, 0);  // the day's run log
    std::string log_name;
    for (const auto& e : fs::directory_iterator(s.work + "log")) log_name = e.path().filename().string();
    ASSERT_FALSE(log_name.empty());
    // A file of the agent's user outside every read folder, hard-linked into the spool.
    write_file(s.root / "home/segreto.pdf", "%PDF-1.4 SEGRETO");
    fs::create_directories(s.spool + "allegati");
    fs::create_hard_link(s.root / "home/segreto.pdf", s.spool + "allegati/listino.pdf");

    s.mail("AB.1", "uno@example.com", {"LISTINO.PDF"}, {"%PDF-1.4 listino"});
    s.mail("AB.2", "due@example.com", {s.spool + "allegati/listino.pdf"});
    s.mail("AB.3", "tre@example.com", {"AB.2.h"});  // AB.2's work copy, no content of its own
    s.mail("AB.4", "quattro@example.com", {"log/" + log_name});
    s.mail("AB.5", "cinque@example.com", {s.work + "non_inviati"});
    const auto r = s.tick();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(s.drafts()["uno@example.com"], 1) << r.out;
    for (const char* to : {"due@example.com", "tre@example.com", "quattro@example.com", "cinque@example.com"})
        EXPECT_EQ(s.drafts().count(to), 0u) << to << r.out;
    EXPECT_NE(r.out.find(" Allegato fuori dalle cartelle ammesse, messaggio non inviato: " + s.spool +
                         "allegati/listino.pdf"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(" Allegato non ammesso (cartella di lavoro), messaggio non inviato: AB.2.h"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(" Allegato non ammesso (cartella di lavoro), messaggio non inviato: log/" + log_name),
              std::string::npos)
        << r.out;
    EXPECT_EQ(s.parked().size(), 4u);
}

// A spool writer of another user on a group spool (setgid, no sticky bit)
// renames the agent's queue folder away and makes its own, whose agents'
// folder leads to a folder of the agent's user; with the sticky bit it
// cannot.
TEST(QueueFolder, AWriterOfAnotherUserCannotReplaceTheQueueFolder) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user through setpriv";
    if (!fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "setpriv (util-linux) is not installed";
    Site s;
    const std::string own = s.own_folder();
    constexpr int kWriter = 64123;
    ASSERT_EQ(::chmod(s.root.path().c_str(), 0755), 0);
    ASSERT_EQ(::chown(s.spool.c_str(), 0, kWriter), 0);
    ASSERT_EQ(::chmod(s.spool.c_str(), 02770), 0);
    s.mail("AB.1", "uno@example.com");
    auto r = s.tick();
    ASSERT_EQ(s.drafts()["uno@example.com"], 1) << r.out;

    const auto as_writer = [&](const std::string& script) {
        return run_program({"/usr/bin/setpriv", "--reuid=" + std::to_string(kWriter),
                            "--regid=" + std::to_string(kWriter), "--clear-groups", "/bin/sh", "-c", script});
    };
    const std::string plant = "cd '" + s.spool + "' && mv coda vecchia && mkdir -m 0777 coda && ln -s '" + own +
                              "' coda/agenti";
    const auto planted = as_writer(plant);
    if (planted.status != 0 && !fs::exists(s.spool + "vecchia"))
        GTEST_SKIP() << "the second user could not act on the spool here: " << planted.err;
    ASSERT_EQ(planted.status, 0) << planted.err;

    s.mail("AB.2", "due@example.com");
    r = s.tick();
    EXPECT_NE(r.out.find(" Cartella di coda non sicura " + s.spool + "coda/: appartiene all'utente " +
                         std::to_string(kWriter)),
              std::string::npos)
        << r.out;
    EXPECT_TRUE(untouched(own));
    EXPECT_TRUE(fs::exists(s.spool + "AB.2.T"));
    EXPECT_EQ(s.drafts().count("due@example.com"), 0u);

    // Set up as the README says: the sticky bit keeps the agent's folder its own.
    fs::remove_all(s.spool + "coda");
    fs::rename(s.spool + "vecchia", s.spool + "coda");
    ASSERT_EQ(::chmod(s.spool.c_str(), 03770), 0);
    EXPECT_NE(as_writer(plant).status, 0);
    EXPECT_TRUE(fs::is_directory(s.spool + "coda/agenti"));
    r = s.tick();
    EXPECT_EQ(s.drafts()["due@example.com"], 1) << r.out;
    EXPECT_TRUE(untouched(own));
}

}  // namespace
}  // namespace velarion
