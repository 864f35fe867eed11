// The record of sent messages and their outcomes: texts with tabs, line ends
// and backslashes come back as written; the days past the kept ones go with
// their documents; outcomes join their message per recipient, a final word
// standing over a later delay.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/os/clock.h"
#include "spool/delivery_track.h"
#include "spool/resend.h"
#include "spool/sent_record.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace velarion::spool {
namespace {

SentMessage message(const std::string& base, const std::string& id) {
    SentMessage m;
    m.time = 1000;
    m.base = base;
    m.message_id = id;
    m.envelope_id = id.substr(0, id.find('@'));
    m.recipients = {"a@x.it", "B@Y.it"};
    m.subject = "Fattura\t12\r\nriga \\ due";
    m.reply = "250 2.0.0 Ok: queued as 4F1A";
    m.documents = {"FATT01.pdf"};
    return m;
}

TEST(SentRecord, WhatIsWrittenIsReadBackAndJoinedWithItsOutcomes) {
    testing::TempDir work;
    ASSERT_TRUE(record_sent(work.path(), 20261209, message("AB.1", "AB.1.aa@h")));
    ASSERT_TRUE(record_sent(work.path(), 20261210, message("AB.2", "AB.2.bb@h")));
    const auto sent = read_sent(work.path(), 20261201);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].subject, "Fattura\t12\r\nriga \\ due");
    EXPECT_EQ(sent[0].recipients, (std::vector<std::string>{"a@x.it", "B@Y.it"}));
    EXPECT_EQ(read_sent(work.path(), 20261210).size(), 1u);
    EXPECT_EQ(fs::status(tracking_dir(work.path())).permissions() & fs::perms::all, fs::perms::owner_all);

    // A delay, then the failure, then a late delay: the failure stands.
    for (const char* action : {"delayed", "failed", "delayed"})
        record_outcome(work.path(), 20261210, {2000, "AB.1.aa@h", "b@y.it", action, "5.1.1", "unknown", "mx", ""});
    record_outcome(work.path(), 20261210, {2000, "AB.2.bb@h", "lista@x.it", "expanded", "2.0.0", "", "mx", ""});
    record_outcome(work.path(), 20261210, {2000, "altro@h", "a@x.it", "failed", "5.1.1", "", "mx", ""});
    const auto tracked = track(work.path(), 20261201, "all");
    ASSERT_EQ(tracked.size(), 2u);
    ASSERT_EQ(tracked[0].recipients.size(), 2u);
    EXPECT_EQ(tracked[0].recipients[0].state, RecipientState::accepted);
    EXPECT_EQ(tracked[0].recipients[1].state, RecipientState::bounced);  // the address's case aside
    ASSERT_EQ(tracked[1].recipients.size(), 3u);  // the list's expansion is one more line
    EXPECT_EQ(tracked[1].recipients[2].state, RecipientState::delivered);
    EXPECT_EQ(track(work.path(), 20261201, "AB.2").size(), 1u);
    EXPECT_EQ(bounced_on(work.path(), 20261210), 2);  // every failure recorded that day

    // Kept for 1 day on the 10th: the 9th goes, with its documents.
    fs::create_directories(documents_dir(work.path(), 20261209, "AB.1.aa"));
    prune_tracking(work.path(), 20261210, 1);
    EXPECT_EQ(read_sent(work.path(), 0).size(), 1u);
    EXPECT_FALSE(fs::exists(documents_dir(work.path(), 20261209, "AB.1.aa")));
    EXPECT_EQ(days_before(20260301, 1), 20260228);
}

TEST(SentRecord, BodiesAreKeptPerDayAndALineCutByAKillIsNeverRead) {
    testing::TempDir work;
    const std::string day = tracking_dir(work.path()) + "documenti/20261210/";
    ASSERT_TRUE(record_body(work.path(), 20261210, "AB.1.aa", "Gentile cliente,\r\n\tsaldo \\ 12\r\n"));
    // A kill in the middle of the next line's write: the line lacks its end.
    {
        std::ofstream cut(day + "corpi.txt", std::ios::binary | std::ios::app);
        cut << "\ncorpo\tAB.2.bb\tmeta' del te";
    }
    ASSERT_TRUE(record_body(work.path(), 20261210, "AB.3.cc", ""));
    ASSERT_TRUE(record_body(work.path(), 20261210, "AB.2.bb", "il testo intero"));
    EXPECT_EQ(kept_body(work.path(), 20261210, "AB.1.aa"), "Gentile cliente,\r\n\tsaldo \\ 12\r\n");
    EXPECT_EQ(kept_body(work.path(), 20261210, "AB.2.bb"), "il testo intero");
    EXPECT_EQ(kept_body(work.path(), 20261210, "AB.3.cc"), "");
    // No folder of its own for a message without documents.
    EXPECT_FALSE(fs::exists(documents_dir(work.path(), 20261210, "AB.1.aa")));

    // A body too long for a line goes into the message's folder, as every
    // body did before; such a folder of an earlier version is read too.
    const std::string long_body(100 * 1024, 'x');
    ASSERT_TRUE(record_body(work.path(), 20261210, "AB.4.dd", long_body));
    EXPECT_EQ(kept_body(work.path(), 20261210, "AB.4.dd"), long_body);
    fs::create_directories(documents_dir(work.path(), 20261209, "AB.5.ee"));
    testing::write_file(documents_dir(work.path(), 20261209, "AB.5.ee") + "corpo.txt", "di ieri");
    EXPECT_EQ(kept_body(work.path(), 20261209, "AB.5.ee"), "di ieri");
    EXPECT_EQ(kept_body(work.path(), 20261209, "AB.6.ff"), "");
}

TEST(SentRecord, ResendWritesTheKeptBodyAndDocuments) {
    testing::TempDir work, spool;
    SentMessage m = message("AB.7", "AB.7.aa@h");
    m.time = to_seconds(make_datetime(2026, 12, 10, 9));
    m.reference = "R7";
    m.sender = "ab@example.com";
    ASSERT_TRUE(record_sent(work.path(), 20261210, m));
    ASSERT_TRUE(record_body(work.path(), 20261210, "AB.7.aa", "Corpo\r\n"));
    fs::create_directories(tracking_dir(work.path()) + "documenti/20261210");
    testing::write_file(document_path(work.path(), 20261210, "AB.7.aa", "FATT01.pdf"), "%PDF");
    const ResendResult r = resend(spool.path(), work.path(), 20261201, "AB.7", "nuovo@x.it");
    ASSERT_TRUE(r.ok) << r.text;
    EXPECT_EQ(testing::read_file(spool.path() + "AB.7R1.b"), "Corpo\r\n");
    EXPECT_EQ(testing::read_file(spool.path() + "AB.7R1.0"), "%PDF");
    EXPECT_TRUE(fs::exists(spool.path() + "AB.7R1.T"));
    // The new message says which it replaces; the first one replaces nothing.
    EXPECT_EQ(replaced_by_resend(work.path(), "AB.7R1"), "AB.7");
    EXPECT_EQ(replaced_by_resend(work.path(), "AB.7"), "");
    ASSERT_TRUE(resend(spool.path(), work.path(), 20261201, "AB.7", "altro@x.it").ok);
    EXPECT_TRUE(fs::exists(spool.path() + "AB.7R2.T"));

    // A message kept by an earlier version: its documents in a folder of its own.
    SentMessage old = message("AB.8", "AB.8.bb@h");
    old.time = m.time;
    ASSERT_TRUE(record_sent(work.path(), 20261210, old));
    const ResendResult missing = resend(spool.path(), work.path(), 20261201, "AB.8", "nuovo@x.it");
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.text, "documento non piu' conservato: " + document_path(work.path(), 20261210, "AB.8.bb", "FATT01.pdf"));
    fs::create_directories(documents_dir(work.path(), 20261210, "AB.8.bb"));
    testing::write_file(documents_dir(work.path(), 20261210, "AB.8.bb") + "FATT01.pdf", "%PDF-vecchio");
    ASSERT_TRUE(resend(spool.path(), work.path(), 20261201, "AB.8", "nuovo@x.it").ok);
    EXPECT_EQ(testing::read_file(spool.path() + "AB.8R1.0"), "%PDF-vecchio");
}

// The day's files stay open between lines; one removed, replaced or whose
// folder is removed while the agent runs is made anew for the next line, so
// no record goes into a file that is gone.
TEST(SentRecord, AFileRemovedOrReplacedWhileKeptGetsTheNextLine) {
    testing::TempDir work;
    const std::string file = tracking_dir(work.path()) + "inviati_20261210.txt";
    ASSERT_TRUE(record_sent(work.path(), 20261210, message("AB.1", "AB.1.aa@h")));
    fs::remove(file);
    ASSERT_TRUE(record_sent(work.path(), 20261210, message("AB.2", "AB.2.bb@h")));
    auto sent = read_sent(work.path(), 20261210);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].base, "AB.2");

    // Replaced by a rename over it: the new file gets the line.
    testing::write_file(tracking_dir(work.path()) + "nuovo.txt", "");
    fs::rename(tracking_dir(work.path()) + "nuovo.txt", file);
    ASSERT_TRUE(record_sent(work.path(), 20261210, message("AB.3", "AB.3.cc@h")));
    sent = read_sent(work.path(), 20261210);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].base, "AB.3");

    // The whole record removed, bodies too: made again, private.
    ASSERT_TRUE(record_body(work.path(), 20261210, "AB.3.cc", "uno"));
    fs::remove_all(tracking_dir(work.path()));
    ASSERT_TRUE(record_sent(work.path(), 20261210, message("AB.4", "AB.4.dd@h")));
    ASSERT_TRUE(record_body(work.path(), 20261210, "AB.4.dd", "due"));
    EXPECT_EQ(read_sent(work.path(), 20261210).size(), 1u);
    EXPECT_EQ(kept_body(work.path(), 20261210, "AB.4.dd"), "due");
    EXPECT_EQ(fs::status(tracking_dir(work.path())).permissions() & fs::perms::all, fs::perms::owner_all);

    // A link put in place of a kept file is never written through.
    testing::write_file(work.path() + "altrove.txt", "");
    fs::remove(file);
    fs::create_symlink(work.path() + "altrove.txt", file);
    EXPECT_FALSE(record_sent(work.path(), 20261210, message("AB.5", "AB.5.ee@h")));
    EXPECT_EQ(testing::read_file(work.path() + "altrove.txt"), "");
}

}  // namespace
}  // namespace velarion::spool
