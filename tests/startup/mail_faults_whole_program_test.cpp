// The whole program (build/bin/velarion) against mail servers and stores
// that fail: a server that stores a message and answers its end late, a
// server nobody listens at, a full drafts maildir, and the envelope sender a
// sendmail program is given.
#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include <gtest/gtest.h>

#include "support/agent_site.h"
#include "support/mail_servers.h"
#include "support/spool_state.h"
#include "support/test_support.h"
#include "support/tmpfs_mount.h"

namespace velarion {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::run_program;
using testing::TempDir;
using testing::write_file;

// A temporary installation of operator AB, with the [MAPI] lines given.
struct Site : testing::AgentSite {
    explicit Site(const std::string& mapi, const std::string& global = "") { configure(global, "[MAPI]\n" + mapi); }
    bool parked() const { return fs::exists(work + "non_inviati") && !fs::is_empty(work + "non_inviati"); }
};

int drafts_in(const std::string& folder) {
    int n = 0;
    std::error_code ec;
    for (const char* sub : {"cur", "new"})
        for (const auto& e : fs::directory_iterator(folder + "/" + sub, ec)) n += e.is_regular_file();
    return n;
}

// A server that stores the message and answers its end after 40 seconds,
// with every setting at its default: the transport waits (ten minutes)
// instead of giving up after its ordinary 30 seconds and sending the
// message again. Exactly one copy, and the message is done.
TEST(MailFaultsWholeProgram, AServerThatAnswersTheEndOfTheMessageLateGetsExactlyOneCopy) {
    testing::SmtpServer slow(testing::SmtpOptions{.data_reply_delay = 40});
    if (!slow.skip_reason().empty()) GTEST_SKIP() << slow.skip_reason();
    Site s("client=Thunderbird\ntransport=" + slow.url() + "\n");
    s.message("AB.1", "uno@example.it", "SEND");
    const auto started = std::chrono::steady_clock::now();
    const auto r = s.once();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::seconds(39));
    EXPECT_NE(r.out.find(" Inviato AB.1 - uno@example.it"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("rinviato"), std::string::npos) << r.out;
    EXPECT_EQ(slow.messages(1, 0).size(), 1u);
    EXPECT_EQ(s.waiting(), 0);
    EXPECT_FALSE(s.parked());
}

// Nobody listens: the line says so, not "timed out".
TEST(MailFaultsWholeProgram, ARefusedConnectionIsSaidToBeRefused) {
    const int closed = testing::pick_free_port();
    Site s("client=Thunderbird\ntransport=smtp://127.0.0.1:" + std::to_string(closed) + "\n");
    s.message("AB.2", "due@example.it", "SEND");
    const auto r = s.once();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(" Server di posta non raggiungibile: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("(Connection refused)"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("timed out"), std::string::npos) << r.out;
    EXPECT_EQ(s.waiting(), 1);
    EXPECT_FALSE(s.parked());
}

// A drafts maildir on a full file system: the message waits with the
// store's reason (not parked, not counted as a try of the message), and is
// stored once space is freed.
TEST(MailFaultsWholeProgram, AFullDraftsMaildirKeepsTheMessageUntilSpaceIsFreed) {
    testing::SmallTmpfs disk(256 * 1024);
    if (!disk.skip_reason().empty()) GTEST_SKIP() << disk.skip_reason();
    Site s("client=Microsoft Outlook\nstore=maildir://localhost" + disk.path() + "posta\n", "retry_delays=1s\n");
    fs::create_directories(disk.path() + "posta/Drafts/cur");
    fs::create_directories(disk.path() + "posta/Drafts/new");
    fs::create_directories(disk.path() + "posta/Drafts/tmp");
    disk.fill();
    s.message("AB.3", "tre@example.it", "SAVE");
    auto r = s.once();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(" Archivio delle bozze pieno: "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(" Messaggio rinviato AB.3"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("no space left on device"), std::string::npos) << r.out;
    EXPECT_FALSE(s.parked());
    EXPECT_EQ(drafts_in(disk.path() + "posta/Drafts"), 0);

    disk.free_space();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    r = s.once();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(" Salvato "), std::string::npos) << r.out;
    EXPECT_EQ(drafts_in(disk.path() + "posta/Drafts"), 1);
    EXPECT_EQ(s.waiting(), 0);
    EXPECT_FALSE(s.parked());
}

// A new draft's file name already taken in the maildir (the library draws
// its names from random numbers that come round within a second at hundreds
// of drafts a second): the draft is saved under another name, each once.
TEST(MailFaultsWholeProgram, ADraftsFileNameAlreadyTakenIsDrawnAgain) {
    Site s("client=Microsoft Outlook\n");
    s.configure("", "[MAPI]\nclient=Microsoft Outlook\nstore=maildir://localhost" + s.posta + "\n");
    for (int i = 1; i <= 3; ++i) s.message("AB." + std::to_string(i), "m" + std::to_string(i) + "@example.it", "SAVE");
    const auto r = run_program(s.args({"--once"}), s.env({"LD_PRELOAD=" VELARION_TAKEN_NAMES,
                                                         "TAKEN_NAME_MATCH=/Drafts/tmp/", "TAKEN_NAME_EVERY=2"}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(s.drafts(), (std::map<std::string, int>{{"m1@example.it", 1}, {"m2@example.it", 1}, {"m3@example.it", 1}}))
        << r.out;
    EXPECT_EQ(s.waiting(), 0) << r.out;
    EXPECT_FALSE(s.parked()) << r.out;
}

// The sendmail program (a stand-in named by the transport) is given the
// operator's address as the envelope's sender, not "@".
TEST(MailFaultsWholeProgram, SendmailGetsTheSenderAsTheEnvelopeSender) {
    TempDir bin;
    const std::string program = bin / "sendmail";
    write_file(program, "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.args\"\ncat > \"$0.in\"\n");
    fs::permissions(program, fs::perms::owner_all);
    Site s("client=Thunderbird\ntransport=sendmail://localhost" + program + "\n");
    s.message("AB.4", "quattro@example.it", "SEND");
    const auto r = s.once();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(program + ".args"), "-i\n-f\nab@example.com\n--\nquattro@example.it\n") << r.out;
    EXPECT_NE(read_file(program + ".in").find("From: ab@example.com"), std::string::npos);
    EXPECT_EQ(s.waiting(), 0);
}

}  // namespace
}  // namespace velarion
