#include "delivery/attachments.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "mail_test_support.h"
#include "startup/agent.h"

namespace velarion {
namespace {

using testing::attach;
using testing::MailContext;

TEST(Attachments, PrintFileWithAllegatxtTakesPdfThenTextAtNextPosition) {
    MailContext m;
    m.work_file("000123.pdf", "%PDF");
    DeliveryRequest r;
    r.allegatxt = true;
    attach(m, r, "000123.txt");
    EXPECT_EQ(count_attachment_positions(r), 2);
    EXPECT_EQ(note_with_positions(2, "Testo"), "  \r\nTesto");

    const OpenedAttachments opened = open_attachments(m.rt, r, MissingPdf::stop);
    ASSERT_FALSE(opened.stop);
    ASSERT_EQ(opened.files.size(), 2u);
    EXPECT_EQ(opened.files[0].position, 0);
    EXPECT_EQ(opened.files[0].path, m.work + "000123.pdf");
    EXPECT_EQ(opened.files[1].position, 1);
    EXPECT_EQ(opened.files[1].path, m.work + "000123.txt");
}

TEST(Attachments, ThirteenCharacterPrintFileCountsOneBlankButAttachesBoth) {
    MailContext m;
    m.cfg.op.send_dir = m.dir / "docs/";  // a full path below the save folder
    m.cfg.derive();
    testing::write_file(m.dir / "docs/listino.xls", "xls");
    m.work_file("000000123.pdf", "%PDF");
    m.work_file("000000123.TXT", "testo");
    DeliveryRequest r;
    r.allegatxt = true;
    attach(m, r, "000000123.TXT");
    attach(m, r, m.dir / "docs/listino.xls");
    attach(m, r, "condizioni.doc");
    EXPECT_EQ(count_attachment_positions(r), 3);

    const OpenedAttachments opened = open_attachments(m.rt, r, MissingPdf::stop);
    ASSERT_FALSE(opened.stop);
    ASSERT_EQ(opened.files.size(), 4u);
    EXPECT_EQ(opened.files[0].path, m.work + "000000123.pdf");
    EXPECT_EQ(opened.files[1].path, m.work + "000000123.TXT");
    // A full path is attached by that path; a bare name from the work directory.
    EXPECT_EQ(opened.files[2].path, m.dir / "docs/listino.xls");
    EXPECT_EQ(opened.files[2].position, 2);
    EXPECT_TRUE(opened.files[2].file->valid());
    EXPECT_EQ(opened.files[3].path, m.work + "condizioni.doc");
    EXPECT_EQ(opened.files[3].position, 3);
    EXPECT_FALSE(opened.files[3].file->valid());  // missing: the mail layer reports it
}

TEST(Attachments, MissingPdfEndsTheDeliveryWithItsLine) {
    MailContext m;
    DeliveryRequest r;
    attach(m, r, "000123.txt");
    const OpenedAttachments opened = open_attachments(m.rt, r, MissingPdf::stop);
    ASSERT_TRUE(opened.stop);
    EXPECT_EQ(opened.stop->result, Delivered::failed);
    EXPECT_TRUE(opened.files.empty());
    ASSERT_EQ(m.list.size(), 1u);
    EXPECT_EQ(m.list.lines()[0], "07/12/2026 10:30:00 Non esiste l'allegato pdf  Non mando l'email");
    // Without the check (the compose form) the PDF's path goes to the mail layer as missing.
    const OpenedAttachments unchecked = open_attachments(m.rt, r, MissingPdf::to_mail_layer);
    ASSERT_FALSE(unchecked.stop);
    ASSERT_EQ(unchecked.files.size(), 1u);
    EXPECT_EQ(unchecked.files[0].path, m.work + "000123.pdf");
    EXPECT_FALSE(unchecked.files[0].file->valid());
}

// The PDF is found as the composition spelt it, whatever the case of the entry.
TEST(Attachments, PdfFoundWithoutRegardToCase) {
    MailContext m;
    m.work_file("ABC001.PDF", "%PDF");
    DeliveryRequest r;
    attach(m, r, "abc001.txt");
    ASSERT_EQ(r.attachments.size(), 1u);
    EXPECT_TRUE(r.attachments[0].print_file);
    EXPECT_EQ(r.attachments[0].travelling(), m.work + "ABC001.PDF");
}

// One rule for every transport: for the fax gateway a print file travels as
// the zip archive of its PDF, made once when the message is read.
TEST(Attachments, FaxMarkZipsThePdfWithPkzip) {
    MailContext m;
    if (!std::filesystem::exists(m.cfg.host.program_dir + "pkzip")) GTEST_SKIP() << "pkzip is not built";
    m.work_file("000123.pdf", "%PDF-1.4 test");
    DeliveryRequest r;
    r.fax = true;
    attach(m, r, "000123.txt");
    attach(m, r, "000124.txt");  // no PDF: pkzip fails
    attach(m, r, "listino.pdf");  // no print file: travels as it is
    for (const auto& a : r.attachments) make_fax_zip(m.rt, a);
    EXPECT_TRUE(std::filesystem::exists(m.work + "000123.zip"));
    ASSERT_EQ(m.list.size(), 1u);
    EXPECT_EQ(m.list.lines()[0], "07/12/2026 10:30:00 Errore PKZIP " + m.work);

    const OpenedAttachments opened = open_attachments(m.rt, r, MissingPdf::stop);
    ASSERT_FALSE(opened.stop);
    ASSERT_EQ(opened.files.size(), 3u);
    EXPECT_EQ(opened.files[0].path, m.work + "000123.zip");
    EXPECT_TRUE(opened.files[0].file->valid());
    EXPECT_EQ(opened.files[1].path, m.work + "000124.zip");
    EXPECT_FALSE(opened.files[1].file->valid());
    EXPECT_EQ(opened.files[2].path, m.work + "listino.pdf");
}

}  // namespace
}  // namespace velarion
