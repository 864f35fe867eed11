// Claims in the spool's queue folder: one agent per message, the messages of
// agents that ended taken over at the next scan, and the clean-up that leaves
// another live agent's files alone. Another agent is stood for by lock files
// this process holds through descriptors of their own (a lock belongs to the
// open file, so the scanner's tries see it held).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "platform/os/agent_identity.h"
#include "platform/os/file_lock.h"
#include "spool/queue.h"
#include "spool/queue_record.h"
#include "spool/spool_fixture.h"

namespace fs = std::filesystem;

namespace velarion::testing {
namespace {

using Claims = SpoolFixture;

const char* const kOther = "altrohost-4242-0badf00d";

// Moves a message's trigger into the queue as if the agent `owner` had taken it.
void claimed_by(const std::string& spool, const std::string& trigger, const std::string& owner) {
    fs::create_directories(spool + "coda/agenti");
    fs::rename(spool + trigger, spool + "coda/" + trigger + "@" + owner);
}

TEST_F(Claims, OnlyTheAgentWhoseRenameSucceedsGoesOn) {
    write_message("AB.1", header("R1", "a@x.it"), "b", {"allegato"});
    write_message("AB.2", header("R2", "a@x.it", {"B.PDF"}), "b", {"altro"});
    // While the two wait for their attachments' size check, another agent takes AB.2.
    view.on_events = [&] {
        if (fs::exists(spool + "AB.2.T")) claimed_by(spool, "AB.2.T", kOther);
    };
    fs::create_directories(spool + "coda/agenti");
    const auto other = FileLock::create(spool + "coda/agenti/" + kOther);
    ASSERT_TRUE(other);
    scan();
    ASSERT_EQ(delivered.size(), 1u) << dump();
    EXPECT_EQ(delivered[0].lsNumRef, "R1");
    // The other agent's message is left as it is: its spool files and its claim.
    EXPECT_TRUE(fs::exists(spool + "coda/AB.2.T@" + std::string(kOther)));
    EXPECT_TRUE(fs::exists(spool + "AB.2.h"));
    EXPECT_FALSE(has_text("Leggi_dir")) << dump();
    // While that agent lives, later scans leave its message too.
    scan();
    EXPECT_EQ(delivered.size(), 1u);
}

TEST_F(Claims, AMessageOfAnAgentThatEndedIsDeliveredAgain) {
    write_message("AB.3", header("R3", "a@x.it"), "b");
    claimed_by(spool, "AB.3.T", kOther);  // no lock: that agent is gone
    scan();
    ASSERT_EQ(delivered.size(), 1u) << dump();
    EXPECT_TRUE(has_line(stamp() + " Messaggio AB.3 ripreso: l'agente " + std::string(kOther) +
                         " si era interrotto"))
        << dump();
    EXPECT_EQ(queue_files(), std::vector<std::string>{"agenti/"});
    EXPECT_EQ(files_in(spool), std::vector<std::string>{"coda/"});
}

TEST_F(Claims, AMessageThatEndedTwoAgentsIsParked) {
    write_message("AB.4", header("R4", "a@x.it"), "corpo", {"contenuto"});
    claimed_by(spool, "AB.4.T", kOther);
    spool::QueueRecord rec;
    rec.interruptions = 1;
    write_file(spool + "coda/AB.4.T.stato", spool::format_record(rec));
    // The dead agent's lock file is there, with nobody holding it.
    write_file(spool + "coda/agenti/" + std::string(kOther), "");
    scan();
    EXPECT_TRUE(delivered.empty());
    EXPECT_TRUE(has_line(stamp() + " Messaggio AB.4 interrotto due volte: non inviato")) << dump();
    const std::string folder = work + "non_inviati/AB.4_261207103000/";
    EXPECT_TRUE(has_line(stamp() + " Messaggio non inviato conservato in " + folder)) << dump();
    EXPECT_EQ(files_in(folder + "originale"),
              (std::vector<std::string>{"AB.4.0", "AB.4.T", "AB.4.b", "AB.4.h"}));
    EXPECT_EQ(read_file(folder + "originale/AB.4.0"), "contenuto");
    EXPECT_NE(read_file(folder + "motivo.txt").find("motivo=interrotto due volte"), std::string::npos);
    // Nothing of it is left in the spool, not even the dead agent's lock.
    EXPECT_EQ(files_in(spool), std::vector<std::string>{"coda/"});
    EXPECT_EQ(files_in(spool + "coda/agenti"), std::vector<std::string>{agent_identity()});
}

TEST_F(Claims, AConcludedMessageOnlyLosesItsSpoolFiles) {
    // Delivered by an agent that ended while removing its spool files.
    write_message("AB.5", header("R5", "a@x.it"), "b");
    fs::remove(spool + "AB.5.b");
    claimed_by(spool, "AB.5.T", spool::SpoolQueue::kConcluded);
    scan();
    EXPECT_TRUE(delivered.empty());
    EXPECT_TRUE(has_line(stamp() + " Messaggio AB.5 gia' concluso: rimossi i suoi file di spool")) << dump();
    EXPECT_EQ(files_in(spool), std::vector<std::string>{"coda/"});
}

TEST_F(Claims, OtherOperatorsClaimsAreNotTakenOver) {
    write_message("CD.6", header("R6", "a@x.it"), "b");
    claimed_by(spool, "CD.6.T", kOther);
    scan();
    EXPECT_TRUE(delivered.empty());
    EXPECT_TRUE(fs::exists(spool + "coda/CD.6.T@" + std::string(kOther)));
}

TEST_F(Claims, TheCleanUpLeavesTheFilesOfAnotherLiveAgentsMessage) {
    // Another agent on this work folder works on AB.9 with its print file.
    fs::create_directories(work + "in_lavorazione");
    const auto other = FileLock::create(work + "in_lavorazione/" + std::string(kOther) + ".lock");
    ASSERT_TRUE(other);
    write_file(work + "in_lavorazione/" + std::string(kOther) + ".elenco", "AB.9.*\n000009.txt\n000009.*\n");
    // The copy it is writing lies under its hidden temporary name.
    for (const char* f : {"AB.9.h", "AB.9.0_261207102959", "000009.txt", "000009.pdf", ".AB.9.b.4242.0badf00d.part",
                          "vecchio.pdf", ".vecchio.txt.1.00000001.part"})
        write_file(work + f, "x");
    // And an agent that ended left its list behind.
    write_file(work + "in_lavorazione/morto-1-00000001.lock", "");
    write_file(work + "in_lavorazione/morto-1-00000001.elenco", "vecchio.pdf\n");

    write_message("AB.10", header("R10", "a@x.it"), "b");
    scan();
    ASSERT_EQ(delivered.size(), 1u) << dump();
    for (const char* f : {"AB.9.h", "AB.9.0_261207102959", "000009.txt", "000009.pdf", ".AB.9.b.4242.0badf00d.part"})
        EXPECT_TRUE(fs::exists(work + f)) << f;
    EXPECT_FALSE(fs::exists(work + "vecchio.pdf"));
    EXPECT_FALSE(fs::exists(work + ".vecchio.txt.1.00000001.part"));
    EXPECT_FALSE(fs::exists(work + "in_lavorazione/morto-1-00000001.elenco"));
    // This agent's own list names the message it took.
    const std::string mine = read_file(work + "in_lavorazione/" + agent_identity() + ".elenco");
    EXPECT_NE(mine.find("AB.10.*\n"), std::string::npos) << mine;
}

TEST_F(Claims, ARecordsTemporaryLeftByAKillGoesOnceItIsOld) {
    // A record whose writer was killed before its rename, and one being written now.
    const std::string old_part = spool + "coda/.AB.1.T.stato.4242.0badf00d.part";
    const std::string new_part = spool + "coda/.AB.2.T.stato.4243.0badf00e.part";
    const std::string other = spool + "coda/.altro.part";
    // And the spare records a killed agent kept, one old, one recent.
    const std::string old_spare = spool + "coda/.morto-1-00000001.7.stato.part";
    const std::string new_spare = spool + "coda/.morto-1-00000001.8.stato.part";
    for (const auto& f : {old_part, new_part, other, old_spare, new_spare}) write_file(f, "in_consegna=1\n");
    const auto long_ago = fs::file_time_type::clock::now() - std::chrono::minutes(5);
    fs::last_write_time(old_part, long_ago);
    fs::last_write_time(other, long_ago);
    fs::last_write_time(old_spare, long_ago);
    scan();
    EXPECT_FALSE(fs::exists(old_part));
    EXPECT_TRUE(fs::exists(new_part));
    EXPECT_TRUE(fs::exists(other));  // not a record's
    EXPECT_FALSE(fs::exists(old_spare));
    EXPECT_TRUE(fs::exists(new_spare));
}

TEST_F(Claims, TheCleanUpRunsAgainOnTheFirstMessageOfANewDay) {
    write_file(work + "non_copiati/2026/1129/000001.pdf", "old");
    write_file(work + "non_copiati/2026/1201/000002.pdf", "recent");
    write_message("AB.11", header("R11", "a@x.it"), "b");
    scan();
    EXPECT_TRUE(fs::exists(work + "AB.11.h"));
    // Copies below non_copiati are kept for seven days (by default).
    EXPECT_FALSE(fs::exists(work + "non_copiati/2026/1129"));
    EXPECT_TRUE(fs::exists(work + "non_copiati/2026/1201/000002.pdf"));

    clock.set(make_datetime(2026, 12, 7, 23, 59, 0));
    write_message("AB.12", header("R12", "a@x.it"), "b");
    scan();
    EXPECT_TRUE(fs::exists(work + "AB.11.h"));  // the same day: not emptied again

    clock.set(make_datetime(2026, 12, 8, 0, 1, 0));
    write_message("AB.13", header("R13", "a@x.it"), "b");
    scan();
    EXPECT_FALSE(fs::exists(work + "AB.11.h"));
    EXPECT_FALSE(fs::exists(work + "AB.12.h"));
    EXPECT_TRUE(fs::exists(work + "AB.13.h"));
    EXPECT_TRUE(fs::exists(work + "non_copiati/2026/1201/000002.pdf"));
    clock.set(make_datetime(2026, 12, 9, 8, 0, 0));
    write_message("AB.14", header("R14", "a@x.it"), "b");
    scan();
    EXPECT_FALSE(fs::exists(work + "non_copiati/2026/1201"));
    EXPECT_EQ(delivered.size(), 4u);
}

}  // namespace
}  // namespace velarion::testing
