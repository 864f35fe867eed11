// What the machine around the agent may do under it: step the wall clock,
// remove the agent's folders, refuse to store a record or a parked copy.
// No message is lost, parked for it, or tried at every tick.
#include <gtest/gtest.h>

#include <filesystem>

#include "spool/installation.h"
#include "spool/queue_record.h"
#include "spool/spool_fixture.h"

namespace fs = std::filesystem;

namespace velarion::testing {
namespace {
using spool::QueueRecord;

class Installation : public SpoolFixture {
protected:
    Installation() {
        cfg.host.unattended = true;
        cfg.retry.delays = {60, 300};
        cfg.retry.limit = 20 * 60;
        scanner.set_deliver([this](const DeliveryRequest& r) {
            delivered.push_back(r);
            DeliveryOutcome o = outcomes.empty() ? DeliveryOutcome(Delivered::yes) : outcomes.front();
            if (!outcomes.empty()) outcomes.erase(outcomes.begin());
            return o;
        });
    }
    void at(int hour, int minute) { clock.set(make_datetime(2026, 12, 7, hour, minute, 0)); }
    void stepped_to(int hour, int minute) { clock.step(make_datetime(2026, 12, 7, hour, minute, 0)); }
    std::vector<DeliveryOutcome> outcomes;
};

TEST_F(Installation, AClockSteppedBackDoesNotHoldAWaitingMessage) {
    outcomes = {{Delivered::later, "451 riprovare"}};
    write_message("AB.1", header("R1", "a@x.it"), "b");
    scan();
    ASSERT_EQ(delivered.size(), 1u);
    stepped_to(9, 30);  // an hour back, and no time has passed
    scan();
    EXPECT_EQ(delivered.size(), 1u);
    clock.sleep_ms(60 * 1000);  // the minute of its delay passes
    scan();
    EXPECT_EQ(delivered.size(), 2u) << dump();
    EXPECT_TRUE(unsent().empty());
}

TEST_F(Installation, ARecordFromAnotherRunFurtherAheadThanTheLongestDelayIsDueNow) {
    write_message("AB.2", header("R2", "a@x.it"), "b");
    fs::create_directories(spool + "coda");
    fs::rename(spool + "AB.2.T", spool + "coda/AB.2.T@rinvio");
    QueueRecord rec;
    rec.tries = 1;
    rec.first_failure = to_seconds(clock.now());
    rec.next_try = rec.first_failure + 299;  // within the longest delay: it waits
    write_file(spool + "coda/AB.2.T.stato", spool::format_record(rec));
    scan();
    EXPECT_TRUE(delivered.empty());
    rec.next_try = rec.first_failure + 3600;  // written before the clock went an hour back
    write_file(spool + "coda/AB.2.T.stato", spool::format_record(rec));
    scan();
    EXPECT_EQ(delivered.size(), 1u) << dump();
}

TEST_F(Installation, AClockSteppedForwardPastTheLimitParksNothing) {
    outcomes = {{Delivered::later, "451 uno"}, {Delivered::later, "451 due"}};
    write_message("AB.3", header("R3", "a@x.it"), "b");
    scan();
    stepped_to(12, 0);  // 90 minutes ahead of a 20-minute limit
    clock.sleep_ms(60 * 1000);  // and the minute of its delay
    scan();
    ASSERT_EQ(delivered.size(), 2u) << dump();
    EXPECT_TRUE(unsent().empty()) << dump();
    EXPECT_TRUE(has_text("Messaggio rinviato AB.3 tentativo 2: 451 due")) << dump();
    // Real time past the limit parks it.
    clock.sleep_ms(21 * 60 * 1000);
    outcomes = {{Delivered::later, "451 tre"}};
    scan();
    EXPECT_EQ(unsent().size(), 1u) << dump();
}

TEST_F(Installation, ARecordThatCannotBeWrittenWaitsInMemory) {
    outcomes = {{Delivered::later, "451 riprovare"}, {Delivered::later, "451 riprovare"}};
    write_message("AB.4", header("R4", "a@x.it"), "b");
    fs::create_directories(spool + "coda/AB.4.T.stato");  // no file can be written there
    scan();
    ASSERT_EQ(delivered.size(), 1u) << dump();
    EXPECT_TRUE(has_text(" Impossibile scrivere il record del messaggio AB.4")) << dump();
    EXPECT_TRUE(fs::exists(spool + "coda/AB.4.T@rinvio"));
    for (int i = 0; i < 5; ++i) scan();  // ticks within its delay
    EXPECT_EQ(delivered.size(), 1u);
    clock.sleep_ms(60 * 1000);
    scan();
    EXPECT_EQ(delivered.size(), 2u);
}

TEST_F(Installation, RemovedFoldersOfTheAgentAreMadeAgainWithOneLine) {
    write_message("AB.5", header("R5", "a@x.it"), "b");
    scan();
    ASSERT_EQ(delivered.size(), 1u);
    fs::remove_all(spool + "coda");
    fs::remove_all(work + "in_lavorazione");
    write_message("AB.6", header("R6", "a@x.it"), "b");
    scan();
    ASSERT_EQ(delivered.size(), 2u) << dump();
    EXPECT_TRUE(has_text(" Cartella mancante " + spool + "coda/: ricreata")) << dump();
    EXPECT_TRUE(has_text(" Cartella mancante " + work + "in_lavorazione/: ricreata")) << dump();
    EXPECT_TRUE(unsent().empty());
    EXPECT_TRUE(fs::exists(work + "in_lavorazione"));
    const std::size_t lines = list.size();
    scan();
    EXPECT_EQ(list.size(), lines);  // said once
}

TEST_F(Installation, AParkedCopyThatCannotBeMadeLeavesTheMessageWhole) {
    outcomes = {{Delivered::failed, "550 sconosciuto"}, {Delivered::failed, "550 sconosciuto"}};
    write_message("AB.7", header("R7", "a@x.it", {"A.PDF"}), "b", {"allegato"});
    write_file(work + "non_inviati", "");  // a file where the folder of parked messages should be
    scanner.run_state().work_dir_cleaned = true;  // the clean-up would remove it
    scan();
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_TRUE(has_text(" Messaggio AB.7 in attesa: ")) << dump();
    for (const char* f : {"AB.7.h", "AB.7.b", "AB.7.0"}) EXPECT_TRUE(fs::exists(spool + f)) << f;
    EXPECT_TRUE(fs::exists(spool + "coda/AB.7.T@rinvio"));

    fs::remove(work + "non_inviati");
    clock.sleep_ms(60 * 1000);
    scan();
    ASSERT_EQ(unsent().size(), 1u) << dump();
    const std::string folder = work + "non_inviati/" + unsent()[0];
    EXPECT_EQ(files_in(folder + "originale"), (std::vector<std::string>{"AB.7.0", "AB.7.T", "AB.7.b", "AB.7.h"}));
    EXPECT_TRUE(fs::exists(folder + "motivo.txt"));
    EXPECT_EQ(files_in(spool), std::vector<std::string>{"coda/"});
}

TEST_F(Installation, AHalfMadeParkedFolderOfAnEndedAgentGoesAtTheNextStart) {
    const std::string half = work + "non_inviati/.parziale.host-1-deadbeef.AB.8_261207103000/";
    write_file(half + "originale/.AB.8.h.1.0000.part", "mezzo");
    write_file(half + "originale/AB.8.T", "");
    write_file(half + "originale/AB.8.b", "copia");
    write_file(half + "originale/AB.8.1", "spostato");  // moved there: it could not be read
    write_file(spool + "AB.8.b", "originale");
    write_message("AB.9", header("R9", "a@x.it"), "b");
    scan();
    EXPECT_FALSE(fs::exists(half));
    EXPECT_EQ(read_file(spool + "AB.8.1"), "spostato");
    EXPECT_EQ(read_file(spool + "AB.8.b"), "originale");
    EXPECT_FALSE(fs::exists(spool + "AB.8.T"));
    EXPECT_TRUE(has_text(" Rimossa la copia incompleta di un messaggio non inviato ")) << dump();
    EXPECT_TRUE(unsent().empty());
}

TEST_F(Installation, AMessageParkedWholeByAnAgentKilledBeforeItsRecordIsFinished) {
    write_message("AB.10", header("R10", "a@x.it"), "b");
    fs::create_directories(spool + "coda/agenti");
    fs::rename(spool + "AB.10.T", spool + "coda/AB.10.T@host-1-deadbeef");
    const std::string folder = work + "non_inviati/AB.10_261207102900/";
    for (const char* f : {"AB.10.T", "AB.10.h", "AB.10.b"}) write_file(folder + "originale/" + f, "copia");
    write_file(folder + "motivo.txt", "spool=" + spool + "\nmotivo=550\nagente=host-1-deadbeef\n");
    scan();
    EXPECT_TRUE(delivered.empty()) << dump();
    EXPECT_TRUE(has_text(" Messaggio AB.10 gia' conservato in " + folder + ": rimossi i suoi file di spool")) << dump();
    EXPECT_EQ(files_in(spool), std::vector<std::string>{"coda/"});
    EXPECT_EQ(unsent(), std::vector<std::string>{"AB.10_261207102900/"});
}

TEST_F(Installation, AMessageWhoseAgentEndedInItsDeliveryWaitsTheLongestDelay) {
    write_message("AB.11", header("R11", "a@x.it"), "b");
    fs::create_directories(spool + "coda/agenti");
    fs::rename(spool + "AB.11.T", spool + "coda/AB.11.T@host-1-deadbeef");
    write_file(spool + "coda/AB.11.T.stato", "in_consegna=1\n");
    outcomes = {{Delivered::later, "451 riprovare"}};
    scan();
    ASSERT_EQ(delivered.size(), 1u) << dump();
    EXPECT_TRUE(has_text(" Messaggio AB.11 ripreso: l'agente host-1-deadbeef si era interrotto")) << dump();
    // Not the first delay (1 minute) but the longest (5 minutes).
    EXPECT_TRUE(has_text("tentativo 1: 451 riprovare - prossimo tentativo 07/12/2026 10:35:00")) << dump();
    EXPECT_NE(read_file(spool + "coda/AB.11.T.stato").find("forse_consegnato=1"), std::string::npos);
}

TEST(InstallationTrouble, SaysWhatIsFullOrMissing) {
    TempDir root;
    const std::string spool = root / "spool/", work = root / "tempozip/";
    fs::create_directories(spool + "coda/agenti");
    fs::create_directories(work + "in_lavorazione");
    EXPECT_EQ(spool::installation_trouble(spool, work, {}, "550 sconosciuto"), "");
    EXPECT_EQ(spool::installation_trouble(spool, work, {}, "Disk full " + work + "a.pdf"),
              "Spazio esaurito in " + work);
    EXPECT_TRUE(spool::says_disk_full("write: Disk quota exceeded"));
    fs::remove(work + "in_lavorazione");
    EXPECT_EQ(spool::installation_trouble(spool, work, {}, ""), "Cartella mancante " + work + "in_lavorazione/");
    fs::create_directories(work + "in_lavorazione");
    fs::remove_all(spool + "coda");
    EXPECT_EQ(spool::installation_trouble(spool, work, {}, ""), "Cartella mancante " + spool + "coda/");
}

}  // namespace
}  // namespace velarion::testing
