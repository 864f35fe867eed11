// The spool scan end to end: real spool groups in a temporary folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "spool/spool_fixture.h"
#include "spool/timing.h"

namespace fs = std::filesystem;

namespace velarion::testing {
namespace {

using Scan = SpoolFixture;

TEST_F(Scan, TakesOnlyTheOperatorsTriggers) {
    write_message("AB.123", header("R1", "a@x.it"), "ciao\r\n");
    write_message("ab.124", header("R2", "a@x.it"), "ciao\r\n");
    write_message("ABC.125", header("R3", "a@x.it"), "ciao\r\n");
    write_message("AB125", header("R4", "a@x.it"), "ciao\r\n");
    write_message("XY.126", header("R5", "a@x.it"), "ciao\r\n");
    scan();
    ASSERT_EQ(delivered.size(), 2u) << dump();
    EXPECT_EQ(delivered[0].lsNumRef, "R1");
    EXPECT_EQ(delivered[1].lsNumRef, "R2");
    EXPECT_FALSE(fs::exists(spool + "AB.123.T"));
    EXPECT_FALSE(fs::exists(spool + "ab.124.h"));
    EXPECT_TRUE(fs::exists(spool + "ABC.125.T"));
    EXPECT_TRUE(fs::exists(spool + "AB125.T"));
    EXPECT_TRUE(fs::exists(spool + "XY.126.T"));
    EXPECT_EQ(switched_off, 0);
    EXPECT_TRUE(unsent().empty());
}

TEST_F(Scan, SecondOperatorAndEveryone) {
    write_message("AB.1", header("R1", "a@x.it"), "b");
    write_message("CD.2", header("R2", "a@x.it"), "b");
    write_message("EF.3", header("R3", "a@x.it"), "b");
    cfg.sw.ope2 = "CD";
    cfg.derive();
    scan();
    EXPECT_EQ(delivered.size(), 2u);
    EXPECT_TRUE(fs::exists(spool + "EF.3.T"));
    cfg.sw.ope = "TUTTI";
    cfg.derive();
    cfg.sw.ope2.clear();
    scan();
    ASSERT_EQ(delivered.size(), 3u);
    EXPECT_EQ(delivered[2].lsNumRef, "R3");
}

TEST_F(Scan, MovesTheGroupWithBackupsAndChecksTheSizeOfTheFirstAttachment) {
    write_message("AB.7", header("R7", "a@x.it", {"A.PDF", "B.CSV"}), "testo\r\n",
                  {"pdf-bytes", "csv"});
    write_file(spool + "AB.7.8", "never moved");
    scan();
    ASSERT_EQ(delivered.size(), 1u) << dump();

    // Spool emptied but for the ".8" (and the queue folder, empty again).
    EXPECT_EQ(files_in(spool), (std::vector<std::string>{"AB.7.8", "coda/"}));
    EXPECT_EQ(files_in(spool + "coda"), std::vector<std::string>{"agenti/"});
    // Four working copies (.0 and .1 live on under their attachment names)
    // and four dated backups: the new ".0" is copied after its two quiet
    // seconds and kept two seconds after its copy, then the ".1" follows.
    // "in_lavorazione" tells other agents on this work folder what is in use;
    // "conteggi" holds the day's counts, "tracciamento" the record of what was sent.
    EXPECT_EQ(files_in(work),
              (std::vector<std::string>{"A.PDF", "AB.7.0_261207103004", "AB.7.1_261207103004",
                                        "AB.7.b", "AB.7.b_261207103002", "AB.7.h",
                                        "AB.7.h_261207103002", "B.CSV", "conteggi/", "in_lavorazione/", "tracciamento/"}));
    EXPECT_EQ(read_file(work + "A.PDF"), "pdf-bytes");
    EXPECT_EQ(clock.slept_ms(), 4000);
    EXPECT_GE(view.events_pumped, 1);
    EXPECT_TRUE(has_line("07/12/2026 10:30:02 Dimensione iniziale " + spool + "AB.7.0 9")) << dump();
    EXPECT_TRUE(has_line("07/12/2026 10:30:04 Dimensione di controllo " + spool + "AB.7.0 9"));
    EXPECT_FALSE(has_text("Dimensione File allegato differente"));
}

TEST_F(Scan, AFileStillGrowingIsCopiedAgain) {
    // Written to once a second for three seconds after its trigger.
    write_message("AB.8", header("R8", "a@x.it", {"A.PDF"}), "b", {"1"});
    int grown = 0;
    view.on_events = [&] {
        while (grown < 3 && clock.slept_ms() >= (grown + 1) * 1000)
            std::ofstream(spool + "AB.8.0", std::ios::app) << ++grown;
    };
    scan();
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(read_file(work + "A.PDF"), "1123");
    // The message's wait, then one size check that saw it grow, then one that did not.
    EXPECT_EQ(clock.slept_ms(), 6000);
    const std::vector<std::string> lines = {
        "07/12/2026 10:30:02 Dimensione iniziale " + spool + "AB.8.0 3",
        "07/12/2026 10:30:04 Dimensione di controllo " + spool + "AB.8.0 4",
        "07/12/2026 10:30:04 Dimensione File allegato differente da file originale di Quil Effettuo "
        "nuovamente la copia",
        "07/12/2026 10:30:04 Dimensione iniziale " + spool + "AB.8.0 4",
        "07/12/2026 10:30:06 Dimensione di controllo " + spool + "AB.8.0 4",
    };
    auto at = list.lines().begin();
    for (const auto& l : lines) {
        at = std::find(at, list.lines().end(), l);
        ASSERT_NE(at, list.lines().end()) << l << "\n" << dump();
    }
}

TEST_F(Scan, TimingHoldsTheMessageUntilItsMinute) {
    // 10:31 of the same day: held at 10:30, taken at 10:31.
    write_message("AB.20", header("R20", "a@x.it"), "b", {}, "TIMING:D2612071031\r\n");
    // 2027 (the year's first digit matters): held.
    write_message("AB.21", header("R21", "a@x.it"), "b", {}, "xx TIMING:D2701011200");
    // Earlier today: taken at once.
    write_message("AB.22", header("R22", "a@x.it"), "b", {}, "TIMING:D2612070900");
    scan();
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].lsNumRef, "R22");
    EXPECT_TRUE(fs::exists(spool + "AB.20.T"));
    EXPECT_TRUE(fs::exists(spool + "AB.20.h"));

    clock.set(make_datetime(2026, 12, 7, 10, 31, 0));
    scan();
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_EQ(delivered[1].lsNumRef, "R20");
    EXPECT_TRUE(fs::exists(spool + "AB.21.T"));
}

TEST(Timing, AKeyThatIsNotADateHoldsNothing) {
    const DateTime now = make_datetime(2026, 12, 7, 10, 30, 0);
    EXPECT_TRUE(spool::held_by_timing("TIMING:D9912312359", now));
    EXPECT_FALSE(spool::held_by_timing("TIMING:DAB12071031", now));
    EXPECT_FALSE(spool::held_by_timing("TIMING:D26120710x1", now));
    EXPECT_FALSE(spool::held_by_timing("TIMING:D2612", now));
}

TEST_F(Scan, TheFirstMessageOfARunEmptiesTheWorkDirectoryOnce) {
    write_file(work + "old.pdf", "x");
    write_file(work + "NOTE.TXT", "keep");
    write_file(work + "non_inviati/AB.0_261201000000/AB.0.h", "kept");
    scan();  // nothing to take: nothing is removed
    EXPECT_TRUE(fs::exists(work + "old.pdf"));

    write_message("AB.30", header("R30", "a@x.it"), "b");
    scan();
    EXPECT_FALSE(fs::exists(work + "old.pdf"));
    EXPECT_TRUE(fs::exists(work + "NOTE.TXT"));
    EXPECT_TRUE(fs::exists(work + "non_inviati/AB.0_261201000000/AB.0.h"));
    EXPECT_TRUE(fs::exists(work + "AB.30.h"));

    write_message("AB.31", header("R31", "a@x.it"), "b");
    scan();
    EXPECT_TRUE(fs::exists(work + "AB.30.h"));  // not emptied a second time
    EXPECT_TRUE(fs::exists(work + "AB.31.h"));
}

TEST_F(Scan, AnAixMarkerRenamesProcessedFiles) {
    write_file(spool + "Aix.Velarion.txt", "");
    write_message("AB.40", header("R40", "a@x.it"), "b");
    scan();
    EXPECT_TRUE(scanner.run_state().aix);  // for the rest of the run
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(files_in(spool), (std::vector<std::string>{"AB.40.T.FATTO", "AB.40.b.FATTO",
                                                         "AB.40.h.FATTO", "Aix.Velarion.txt", "coda/"}));
    scan();  // renamed triggers are not taken again
    EXPECT_EQ(delivered.size(), 1u);
}

TEST_F(Scan, ChecksEndTheScanAndSwitchTheAgentOff) {
    write_message("AB.50", header("R50", "a@x.it"), "b");
    cfg.op.tempozip_dir = root / "work/";
    cfg.derive();
    scan();
    ASSERT_EQ(view.boxes.size(), 1u);
    EXPECT_EQ(view.boxes[0], "Il path della directory temporanea per i file deve terminare con TEMPOZIP");
    EXPECT_EQ(switched_off, 1);

    cfg.op.tempozip_dir = work;
    cfg.op.Path = root / "nospool";
    cfg.derive();
    scan();
    EXPECT_EQ(view.boxes.back(),
              "Non riesco ad accedere alla directory creazione messaggi " + root.path() + "nospool/");
    cfg.op.Path = "";
    cfg.derive();
    scan();
    EXPECT_EQ(switched_off, 3);

    cfg.op.Path = spool;
    cfg.op.tempozip_dir = root / "x/TEMPOZIP\\";
    cfg.derive();
    scan();
    EXPECT_EQ(view.boxes.back(),
              "Non riesco ad accedere alla directory d'appoggio " + root.path() + "x/TEMPOZIP/");
    EXPECT_EQ(switched_off, 4);
    EXPECT_TRUE(delivered.empty());
    EXPECT_TRUE(fs::exists(spool + "AB.50.T"));
}

TEST_F(Scan, AFailedCopyLeavesTheWholeGroupForALaterTick) {
    write_message("AB.60", header("R60", "a@x.it"), "b");
    fs::create_directories(work + "AB.60.b");  // the body cannot be copied over a folder
    scan();
    EXPECT_TRUE(delivered.empty());
    EXPECT_EQ(switched_off, 1);
    // A file that cannot be written over reads as a bad file name.
    EXPECT_TRUE(has_line(stamp() +
                         " Controllare l'esistenza della directory della creazione messaggi e la "
                         "directory d'appoggio nei parametri utente Step 15"))
        << dump();
    EXPECT_TRUE(fs::exists(spool + "AB.60.T"));
    EXPECT_TRUE(fs::exists(spool + "AB.60.h"));
    EXPECT_TRUE(fs::exists(spool + "AB.60.b"));

    fs::remove(work + "AB.60.b");
    scan();
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_FALSE(fs::exists(spool + "AB.60.T"));
}

TEST_F(Scan, InPrepareModeAScanErrorLeavesTheAgentOn) {
    cfg.op.ParGenerali = "PREPARA:" + root.path() + "prep;";
    cfg.derive();
    write_message("AB.61", header("R61", "a@x.it"), "b");
    fs::create_directories(work + "AB.61.h");
    scan();
    EXPECT_TRUE(has_text("Step 15")) << dump();
    EXPECT_TRUE(fs::exists(spool + "AB.61.T"));
    EXPECT_EQ(switched_off, 0);
}

TEST_F(Scan, ASpoolDirectoryThatVanishesEndsTheScanAndPollingGoesOn) {
    write_message("AB.70", header("R70", "a@x.it"), "b");
    cfg.sw.ope2 = "CD";
    cfg.derive();
    // The spool disappears while the first message is delivered; the second
    // operator's pass then cannot list it.
    scanner.set_deliver([this](const DeliveryRequest& r) {
        delivered.push_back(r);
        fs::remove_all(spool);
        return DeliveryOutcome{Delivered::yes};
    });
    scan();
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_TRUE(has_line(stamp() +
                         " Controllare l'esistenza della directory della creazione messaggi e la "
                         "directory d'appoggio nei parametri utente Step 10"))
        << dump();
    EXPECT_EQ(switched_off, 0);

    // The next tick finds it missing and says so.
    scan();
    EXPECT_EQ(switched_off, 1);
    EXPECT_EQ(view.boxes.size(), 1u);
}

TEST_F(Scan, LayoutStateIsResetAfterEachMessage) {
    // The style file lies in the spool's "loghi" folder ("Dir_Loghi" is empty).
    write_file(spool + "loghi/loghi.ini", "[STILE1]\r\nallegatxt=y\r\n");
    write_message("AB.80",
                  {"R80", "", "ab@example.com", "a@x.it", "s", "STILE1", "SEND", "riga8", "000080.txt"},
                  "b", {"stampa\r\n"});
    write_message("AB.81", header("R81", "a@x.it", {"000081.txt"}), "b", {"stampa\r\n"});
    scan();
    ASSERT_EQ(delivered.size(), 2u) << dump();
    // The first message's style asks for the print file beside its PDF; the
    // second message names no style and inherits nothing of the first.
    EXPECT_TRUE(delivered[0].allegatxt) << dump();
    EXPECT_FALSE(delivered[1].allegatxt);
    EXPECT_TRUE(fs::exists(work + "000080.pdf"));
    EXPECT_TRUE(fs::exists(work + "000081.pdf"));
}

}  // namespace
}  // namespace velarion::testing
