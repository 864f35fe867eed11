// `velarion --resubmit`: a parked message goes back to its spool folder as
// the business software wrote it, and is then delivered as a new one.
#include <gtest/gtest.h>

#include <filesystem>

#include "spool/resubmit.h"
#include "spool/spool_fixture.h"

namespace fs = std::filesystem;

namespace velarion::testing {
namespace {

using Resubmit = SpoolFixture;

TEST_F(Resubmit, AParkedMessageGoesBackAndIsDelivered) {
    deliver_result = false;
    write_message("AB.1", header("R1", "a@x.it", {"A.PDF"}), "corpo", {"contenuto"}, "TIMING:D2612070900");
    write_message("AB.2", header("R2", "a@x.it"), "corpo");
    scan();
    ASSERT_EQ(unsent().size(), 2u);
    EXPECT_EQ(files_in(spool), std::vector<std::string>{"coda/"});

    // The whole folder of parked messages, or one of them.
    const auto back = spool::resubmit(work + "non_inviati/" + unsent()[0]);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_TRUE(back[0].ok) << back[0].text;
    EXPECT_EQ(back[0].text, "messaggio AB.1 riconsegnato alla spool " + spool);
    EXPECT_EQ(read_file(spool + "AB.1.0"), "contenuto");
    EXPECT_EQ(read_file(spool + "AB.1.T"), "TIMING:D2612070900");
    EXPECT_EQ(unsent().size(), 1u);
    const auto rest = spool::resubmit(work + "non_inviati");
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_TRUE(rest[0].ok) << rest[0].text;
    EXPECT_TRUE(unsent().empty());

    deliver_result = true;
    delivered.clear();
    scan();
    ASSERT_EQ(delivered.size(), 2u) << dump();
    // The message without attachment goes first: the other's waits for its size check.
    EXPECT_EQ(delivered[1].lsNumRef, "R1");
    EXPECT_EQ(attachment_name(delivered[1], 1), "A.PDF");
}

TEST_F(Resubmit, AMessageStillInTheSpoolIsNotWrittenOver) {
    deliver_result = false;
    write_message("AB.3", header("R3", "a@x.it"), "prima");
    scan();
    ASSERT_EQ(unsent().size(), 1u);
    write_message("AB.3", header("R3", "a@x.it"), "seconda");
    const auto r = spool::resubmit(work + "non_inviati/" + unsent()[0]);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_FALSE(r[0].ok);
    EXPECT_EQ(r[0].text, "la spool " + spool + " contiene gia' il file AB.3.T del messaggio AB.3.T");
    EXPECT_EQ(read_file(spool + "AB.3.b"), "seconda");
    EXPECT_EQ(unsent().size(), 1u);

    // A new message of that name still being written (no trigger yet), and
    // its trigger waiting in the queue, are not written over either.
    fs::remove(spool + "AB.3.T");
    fs::remove(spool + "AB.3.h");
    EXPECT_EQ(spool::resubmit(work + "non_inviati/" + unsent()[0])[0].text,
              "la spool " + spool + " contiene gia' il file AB.3.b del messaggio AB.3.T");
    fs::remove(spool + "AB.3.b");
    write_file(spool + "coda/AB.3.T@rinvio", "");
    EXPECT_EQ(spool::resubmit(work + "non_inviati/" + unsent()[0])[0].text,
              "la spool " + spool + " contiene gia' il file coda/AB.3.T@rinvio del messaggio AB.3.T");
    fs::remove(spool + "coda/AB.3.T@rinvio");
    // A file marked as processed on an AIX host is no message.
    write_file(spool + "AB.3.h.FATTO", "");
    EXPECT_TRUE(spool::resubmit(work + "non_inviati/" + unsent()[0])[0].ok);

    EXPECT_FALSE(spool::resubmit(root / "nowhere")[0].ok);
    EXPECT_EQ(spool::resubmit(spool)[0].text, "non contiene messaggi non inviati");
}

TEST_F(Resubmit, AMessageThatMayHaveBeenDeliveredGoesBackOnlyWhenForced) {
    cfg.retry.delays = {60, 600};
    cfg.retry.limit = 0;  // parked at its first temporary failure
    scanner.set_deliver([](const DeliveryRequest&) {
        return DeliveryOutcome{Delivered::maybe_delivered, "nessuna risposta dopo i dati"};
    });
    write_message("AB.4", header("R4", "a@x.it"), "corpo");
    scan();
    ASSERT_EQ(unsent().size(), 1u) << dump();
    const std::string folder = work + "non_inviati/" + unsent()[0];
    const std::string motivo = read_file(folder + "motivo.txt");
    EXPECT_NE(motivo.find("motivo=non inviato dopo 1 tentativi: nessuna risposta dopo i dati - potrebbe essere "
                          "gia' stato consegnato\nforse_consegnato=si\n"),
              std::string::npos)
        << motivo;

    auto r = spool::resubmit(folder);
    EXPECT_FALSE(r[0].ok);
    EXPECT_EQ(r[0].text, "il messaggio AB.4 potrebbe essere gia' stato consegnato: per riconsegnarlo comunque "
                         "usare --resubmit --force");
    EXPECT_FALSE(fs::exists(spool + "AB.4.T"));
    r = spool::resubmit(work + "non_inviati", true);
    EXPECT_TRUE(r[0].ok) << r[0].text;
    EXPECT_TRUE(fs::exists(spool + "AB.4.T"));
}

}  // namespace
}  // namespace velarion::testing
