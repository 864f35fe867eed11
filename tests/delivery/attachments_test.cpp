#include "delivery/attachments.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "mail_test_support.h"
#include "startup/agent.h"

namespace velarion {
namespace {

using testing::MailContext;

TEST(Attachments, PrintFileWithAllegatxtTakesPdfThenTextAtNextPosition) {
    MailContext m;
    m.work_file("000123.pdf", "%PDF");
    DeliveryRequest r;
    r.allegatxt = true;
    r.lsAttacchedFile[0] = "000123.txt";
    EXPECT_EQ(count_attachment_positions(r, true), 2);
    EXPECT_EQ(note_with_positions(2, "Testo"), "  \r\nTesto");

    mail::Message msg;
    ASSERT_TRUE(add_attachments(m.rt, r, msg, true));
    ASSERT_EQ(msg.attachments.size(), 2u);
    EXPECT_EQ(msg.attachments[0].position, 0);
    EXPECT_EQ(msg.attachments[0].path, m.work + "000123.pdf");
    EXPECT_EQ(msg.attachments[1].position, 1);
    EXPECT_EQ(msg.attachments[1].path, m.work + "000123.txt");
}

TEST(Attachments, ThirteenCharacterPrintFileCountsOneBlankButAttachesBoth) {
    MailContext m;
    m.cfg.op.send_dir = m.dir / "docs/";  // a full path below the save folder
    m.cfg.derive();
    testing::write_file(m.dir / "docs/listino.xls", "xls");
    m.work_file("000000123.pdf", "%PDF");
    DeliveryRequest r;
    r.allegatxt = true;
    r.lsAttacchedFile[0] = "000000123.TXT";
    r.lsAttacchedFile[5] = m.dir / "docs/listino.xls";
    r.lsAttacchedFile[6] = "condizioni.doc";
    EXPECT_EQ(count_attachment_positions(r, true), 3);

    mail::Message msg;
    ASSERT_TRUE(add_attachments(m.rt, r, msg, true));
    ASSERT_EQ(msg.attachments.size(), 4u);
    EXPECT_EQ(msg.attachments[0].path, m.work + "000000123.pdf");
    EXPECT_EQ(msg.attachments[1].path, m.work + "000000123.TXT");
    // A full path is attached by that path; a bare name from the work directory.
    EXPECT_EQ(msg.attachments[2].path, m.dir / "docs/listino.xls");
    EXPECT_EQ(msg.attachments[2].position, 2);
    EXPECT_EQ(msg.attachments[3].path, m.work + "condizioni.doc");
    EXPECT_EQ(msg.attachments[3].position, 3);
}

TEST(Attachments, MissingPdfEndsTheDeliveryWithItsLine) {
    MailContext m;
    DeliveryRequest r;
    r.lsAttacchedFile[0] = "000123.txt";
    mail::Message msg;
    EXPECT_FALSE(add_attachments(m.rt, r, msg, true));
    ASSERT_EQ(m.list.size(), 1u);
    EXPECT_EQ(m.list.lines()[0], "07/12/2026 10:30:00 Non esiste l'allegato pdf  Non mando l'email");
    // Without the check (the compose form) the PDF's path is attached all the same.
    mail::Message unchecked;
    EXPECT_TRUE(add_attachments(m.rt, r, unchecked, false));
    ASSERT_EQ(unchecked.attachments.size(), 1u);
    EXPECT_EQ(unchecked.attachments[0].path, m.work + "000123.pdf");
}

TEST(Attachments, FaxMarkZipsThePdfWithPkzip) {
    MailContext m;
    if (!std::filesystem::exists(m.cfg.host.program_dir + "pkzip")) GTEST_SKIP() << "pkzip is not built";
    m.work_file("000123.pdf", "%PDF-1.4 test");
    DeliveryRequest r;
    r.fax = true;
    r.lsAttacchedFile[0] = "000123.txt";
    r.lsAttacchedFile[1] = "000124.txt";  // no PDF: pkzip fails
    mail::Message msg;
    ASSERT_TRUE(add_attachments(m.rt, r, msg, true));
    ASSERT_EQ(msg.attachments.size(), 2u);
    EXPECT_EQ(msg.attachments[0].path, m.work + "000123.zip");
    EXPECT_TRUE(std::filesystem::exists(m.work + "000123.zip"));
    EXPECT_EQ(msg.attachments[1].path, m.work + "000124.zip");
    ASSERT_EQ(m.list.size(), 1u);
    EXPECT_EQ(m.list.lines()[0], "07/12/2026 10:30:00 Errore PKZIP " + m.work);
}

}  // namespace
}  // namespace velarion
