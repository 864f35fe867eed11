// What becomes of a message that was not delivered: tried again after
// growing delays, parked after the limit or at once, or left queued while
// the mail server cannot be reached; and, unattended, a message-specific
// error parks that message while the scan goes on.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/os/agent_identity.h"
#include "spool/queue.h"
#include "spool/queue_record.h"
#include "spool/spool_fixture.h"

namespace fs = std::filesystem;

namespace velarion::testing {
namespace {

class Retry : public SpoolFixture {
protected:
    Retry() {
        cfg.retry.delays = {60, 300};  // 1 and 5 minutes, then every 5
        cfg.retry.limit = 20 * 60;
        scanner.set_deliver([this](const DeliveryRequest& r) {
            delivered.push_back(r);
            DeliveryOutcome o = outcomes.empty() ? DeliveryOutcome(Delivered::yes) : outcomes.front();
            if (!outcomes.empty()) outcomes.erase(outcomes.begin());
            return o;
        });
    }
    void at(int hour, int minute, int second = 0) { clock.set(make_datetime(2026, 12, 7, hour, minute, second)); }
    std::vector<DeliveryOutcome> outcomes;  // what the next deliveries give (then: delivered)
};

TEST_F(Retry, ATemporaryFailureIsTriedAgainWithGrowingDelays) {
    outcomes = {{Delivered::later, "451 riprovare"}, {Delivered::later, "451 ancora"}};
    write_message("AB.1", header("R1", "a@x.it"), "b");
    scan();
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_TRUE(has_line(stamp() + " Messaggio rinviato AB.1 tentativo 1: 451 riprovare - prossimo tentativo "
                                   "07/12/2026 10:31:00"))
        << dump();
    EXPECT_TRUE(fs::exists(spool + "coda/AB.1.T@rinvio"));
    EXPECT_TRUE(fs::exists(spool + "AB.1.h"));  // the spool files wait with it
    EXPECT_TRUE(unsent().empty());

    scan();  // too early
    EXPECT_EQ(delivered.size(), 1u);
    at(10, 31);
    scan();
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_TRUE(has_text("tentativo 2: 451 ancora - prossimo tentativo 07/12/2026 10:36:00")) << dump();
    at(10, 35, 59);
    scan();
    EXPECT_EQ(delivered.size(), 2u);
    at(10, 36);
    scan();
    ASSERT_EQ(delivered.size(), 3u);
    EXPECT_EQ(files_in(spool), std::vector<std::string>{"coda/"});
    EXPECT_EQ(queue_files(), std::vector<std::string>{"agenti/"});
}

TEST_F(Retry, ATemporaryFailurePastTheLimitIsParkedWithItsReason) {
    for (int i = 0; i < 10; ++i) outcomes.push_back({Delivered::later, "421 occupato"});
    write_message("AB.2", header("R2", "a@x.it"), "b");
    for (int minute : {30, 31, 36, 41, 46, 51}) {
        at(10, minute);
        scan();
    }
    ASSERT_EQ(delivered.size(), 6u) << dump();
    EXPECT_TRUE(has_line("07/12/2026 10:51:00 Messaggio AB.2 non inviato dopo 6 tentativi: 421 occupato")) << dump();
    const std::string folder = work + "non_inviati/AB.2_261207105100/";
    EXPECT_EQ(read_file(folder + "motivo.txt"),
              "spool=" + spool + "\nmotivo=non inviato dopo 6 tentativi: 421 occupato\nagente=" +
                  agent_identity() + "\n");
    EXPECT_EQ(files_in(spool), std::vector<std::string>{"coda/"});
}

TEST_F(Retry, APermanentFailureIsParkedAtOnce) {
    outcomes = {{Delivered::failed, "550 destinatario sconosciuto"}};
    write_message("AB.3", header("R3", "a@x.it"), "b");
    scan();
    EXPECT_EQ(unsent(), std::vector<std::string>{"AB.3_261207103000/"});
    EXPECT_NE(read_file(work + "non_inviati/AB.3_261207103000/motivo.txt").find("550 destinatario sconosciuto"),
              std::string::npos);
}

TEST_F(Retry, WhileTheServerIsDownEveryMessageWaitsInTheSpool) {
    outcomes = {{Delivered::server_down, "connessione rifiutata"}, {Delivered::server_down, "connessione rifiutata"}};
    write_message("AB.4", header("R4", "a@x.it"), "b");
    write_message("AB.5", header("R5", "a@x.it"), "b");
    scan();
    // One try, one line; both messages stay where the business software put them.
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_TRUE(has_line(stamp() + " Server di posta non raggiungibile: connessione rifiutata - nuovi tentativi "
                                   "automatici (invio)"))
        << dump();
    EXPECT_TRUE(fs::exists(spool + "AB.4.T"));
    EXPECT_TRUE(fs::exists(spool + "AB.5.T"));
    EXPECT_TRUE(unsent().empty());

    const std::size_t lines = list.size();
    scan();  // within the delay: nothing is tried
    at(10, 31);
    scan();  // down again: no further line
    EXPECT_EQ(delivered.size(), 2u);
    EXPECT_EQ(list.size(), lines) << dump();
    at(10, 36);
    scan();  // up: both go
    EXPECT_EQ(delivered.size(), 4u);
    EXPECT_TRUE(has_text(" Consegna di nuovo possibile: riprendo l'invio dei messaggi"));
    EXPECT_EQ(files_in(spool), std::vector<std::string>{"coda/"});
    EXPECT_EQ(switched_off, 0);
}

TEST_F(Retry, ARefusedLogonKeepsTheMessageQueuedAndSwitchingOnTriesAgain) {
    outcomes = {{Delivered::logon_refused, "utente password errata"}};
    write_message("AB.6", header("R6", "a@x.it"), "b");
    scan();
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_TRUE(fs::exists(spool + "AB.6.T"));
    EXPECT_TRUE(unsent().empty());
    scan();
    EXPECT_EQ(delivered.size(), 1u);
    // The user switches the agent on again: the next scan tries at once.
    scanner.resume();
    scan();
    EXPECT_EQ(delivered.size(), 2u);
    EXPECT_FALSE(fs::exists(spool + "AB.6.T"));
}

TEST_F(Retry, UnattendedARefusedLogonIsSaidOnce) {
    cfg.host.unattended = true;
    outcomes = {{Delivered::logon_refused, "velarion: 535 rifiutato"}, {Delivered::logon_refused, "velarion: 535"}};
    write_message("AB.7", header("R7", "a@x.it"), "b");
    scan();
    at(10, 31);
    scan();
    EXPECT_EQ(delivered.size(), 2u);
    int said = 0;
    for (const auto& l : list.lines()) said += l.find(" Accesso Fallito ") != std::string::npos;
    EXPECT_EQ(said, 1) << dump();
    EXPECT_TRUE(has_line("07/12/2026 10:30:00 Accesso Fallito velarion: 535 rifiutato - nuovi tentativi automatici (invio)"));
    at(10, 36);
    scan();
    EXPECT_EQ(delivered.size(), 3u);
    EXPECT_EQ(switched_off, 0);
}

TEST_F(Retry, UnattendedAFileThatVanishesInTheSizeCheckParksItsMessageOnly) {
    cfg.host.unattended = true;
    write_message("AB.8", header("R8", "a@x.it", {"A.PDF"}), "b", {"contenuto"});
    write_message("AB.9", header("R9", "a@x.it"), "b");
    // Written to while the message waits to be taken, gone during its own size check.
    view.on_events = [&] {
        if (fs::exists(spool + "AB.8.T"))
            std::ofstream(spool + "AB.8.0", std::ios::app) << "x";
        else
            fs::remove(spool + "AB.8.0");
    };
    scan();
    ASSERT_EQ(delivered.size(), 1u) << dump();
    EXPECT_EQ(delivered[0].lsNumRef, "R9");
    EXPECT_TRUE(has_text(" Leggi_dir 53 step 15")) << dump();
    ASSERT_EQ(unsent().size(), 1u);
    const std::string folder = work + "non_inviati/" + unsent()[0];
    EXPECT_EQ(files_in(folder + "originale"), (std::vector<std::string>{"AB.8.T", "AB.8.b", "AB.8.h"}));
    EXPECT_EQ(switched_off, 0);
    EXPECT_EQ(files_in(spool), std::vector<std::string>{"coda/"});
}

TEST_F(Retry, OnTheDesktopTheSameErrorSwitchesTheAgentOffAndKeepsTheMessage) {
    write_message("AB.10", header("R10", "a@x.it", {"A.PDF"}), "b", {"contenuto"});
    bool removed = false;
    view.on_events = [&] {
        if (fs::exists(spool + "AB.10.T")) {
            std::ofstream(spool + "AB.10.0", std::ios::app) << "x";
            return;
        }
        if (!removed) fs::remove(spool + "AB.10.0");
        removed = true;
    };
    scan();
    EXPECT_TRUE(delivered.empty());
    EXPECT_EQ(switched_off, 1);
    EXPECT_TRUE(fs::exists(spool + "AB.10.T"));
    EXPECT_TRUE(unsent().empty());
}

TEST_F(Retry, UnattendedAMissingSpoolFolderIsSaidOnceAndPollingGoesOn) {
    cfg.host.unattended = true;
    cfg.op.Path = root / "nospool";
    cfg.derive();
    scan();
    scan();
    EXPECT_EQ(view.boxes.size(), 1u);
    EXPECT_EQ(switched_off, 0);
    cfg.op.Path = spool;
    cfg.derive();
    write_message("AB.11", header("R11", "a@x.it"), "b");
    scan();
    EXPECT_EQ(delivered.size(), 1u);
    EXPECT_TRUE(has_text(" Directory accessibili: elaborazione ripresa"));
}

}  // namespace
}  // namespace velarion::testing
