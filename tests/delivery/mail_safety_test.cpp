// Delivery reads only what lies below the installation's folders, reads the
// file it checked, and writes no control character into a header.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "delivery/attachments.h"
#include "mail_test_support.h"
#include "support/mail_servers.h"

namespace velarion {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using testing::maildir_drafts;
using testing::MailContext;
using testing::store_root;

const std::string kRefused = "07/12/2026 10:30:00 Allegato fuori dalle cartelle ammesse, messaggio non inviato: ";

TEST(MailSafety, EntriesOutsideTheFoldersAreRefusedWhenResolved) {
    MailContext m;
    testing::write_file(m.dir / "home/secret.txt", "SEGRETO");
    fs::create_symlink(m.dir / "home/secret.txt", m.work + "nota.pdf");  // a link in the work folder
    for (const std::string& entry : {m.dir / "home/secret.txt", std::string("../home/secret.txt"),
                                    std::string("nota.pdf"), std::string("../abc.txt")}) {
        EXPECT_FALSE(attachment_allowed(m.rt, resolve_attachment(m.rt, entry, false))) << entry;
        EXPECT_FALSE(attachment_allowed(m.rt, resolve_attachment(m.rt, entry, true))) << entry;
    }
    EXPECT_TRUE(attachment_allowed(m.rt, resolve_attachment(m.rt, "000123.txt", true)));
    EXPECT_TRUE(attachment_allowed(m.rt, resolve_attachment(m.rt, "condizioni.doc", false)));
}

// A file swapped for a link after the message was read is refused when the
// transport opens it: one line, nothing stored or sent.
TEST(MailSafety, AFileSwappedForALinkStopsEveryTransport) {
    MailContext m;
    testing::write_file(m.dir / "home/secret.txt", "SEGRETO");
    m.work_file("nota.pdf", "nota");
    m.work_file("000123.txt", "testo");
    m.work_file("000123.pdf", "%PDF");
    DeliveryRequest r = testing::sample_request();
    testing::attach(m, r, "nota.pdf");
    ASSERT_TRUE(attachment_allowed(m.rt, r.attachments[0]));
    fs::remove(m.work + "nota.pdf");
    fs::create_symlink(m.dir / "home/secret.txt", m.work + "nota.pdf");
    DeliveryRequest print = testing::sample_request();
    print.allegatxt = true;
    testing::attach(m, print, "000123.txt");
    fs::remove(m.work + "000123.txt");
    fs::create_symlink(m.dir / "home/secret.txt", m.work + "000123.txt");
    for (const DeliveryRequest* req : {&r, &print}) {
        const std::string entry = req->attachments[0].name;
        for (const MissingPdf rule : {MissingPdf::stop, MissingPdf::to_mail_layer}) {
            m.list.clear();
            const OpenedAttachments opened = open_attachments(m.rt, *req, rule);
            ASSERT_TRUE(opened.stop) << entry;
            EXPECT_EQ(opened.stop->result, Delivered::failed);
            EXPECT_TRUE(opened.files.empty()) << entry;
            ASSERT_EQ(m.list.size(), 1u) << entry;
            EXPECT_EQ(m.list.lines()[0], kRefused + entry);
        }
        // The compose form of an Outlook client stores nothing either, nor the MAPI transport.
        DeliveryRequest save = *req;
        save.lsSend = "SAVE";
        m.write_mapi("client=Microsoft Outlook\n");
        EXPECT_FALSE(m.dispatcher.sendmail(save)) << entry;
        m.write_mapi("client=Thunderbird\ntransport=smtp://127.0.0.1:1\n");
        m.list.clear();
        EXPECT_FALSE(m.dispatcher.sendmail(save)) << entry;
        EXPECT_EQ(m.list.lines(), std::vector<std::string>{kRefused + entry});
    }
    EXPECT_TRUE(maildir_drafts(store_root(m)).empty());
}

TEST(MailSafety, TheFileCheckedIsTheFileSent) {
    MailContext m;
    m.cfg.op.send_dir = m.dir / "salvati/";
    m.cfg.derive();
    testing::write_file(m.dir / "salvati/listino.pdf", "LISTINO");
    testing::write_file(m.dir / "home/secret.txt", "SEGRETO");
    DeliveryRequest r = testing::sample_request();
    testing::attach(m, r, m.dir / "salvati/listino.pdf");
    mail::Message msg;
    msg.recipients.push_back({mail::RecipType::To, "mario.rossi@example.it"});
    OpenedAttachments opened = open_attachments(m.rt, r, MissingPdf::stop);
    ASSERT_FALSE(opened.stop);
    msg.attachments = std::move(opened.files);
    // Swapped for a link after the check: the message still carries the file checked.
    fs::remove(m.dir / "salvati/listino.pdf");
    fs::create_symlink(m.dir / "home/secret.txt", m.dir / "salvati/listino.pdf");
    mail::Profile profile;
    profile.store = "maildir://localhost" + store_root(m);
    auto session = mail::open_session(profile);
    session->sign_on("", "");
    session->save(msg);
    const auto drafts = maildir_drafts(store_root(m));
    ASSERT_EQ(drafts.size(), 1u);
    const std::string d = testing::describe_mime(drafts[0].raw);
    EXPECT_THAT(d, HasSubstr("attachment: listino.pdf 7\n"));
    EXPECT_EQ(drafts[0].raw.find("U0VHUkVUTw"), std::string::npos);  // "SEGRETO" in base64
}

TEST(MailSafety, HeadersCarryNoControlsAndRawBodiesAreEncoded) {
    MailContext m;
    m.write_mapi("client=Microsoft Outlook\n");
    m.work_file("a\x1b" "b.doc", "doc");
    DeliveryRequest r = testing::sample_request();
    r.lsSend = "SAVE";
    r.lsObj = std::string("Fattura\0 12\r\nBcc: intruso@example.it", 36);
    r.lsTo = "Mario\x01 Rossi <mario.rossi@example.it>";
    r.lvBody = std::string("riga\0uno\rriga due\r\n", 19);
    testing::attach(m, r, "a\x1b" "b.doc");
    ASSERT_TRUE(m.dispatcher.sendmail(r)) << ::testing::PrintToString(m.t.view.boxes);
    const auto drafts = maildir_drafts(store_root(m));
    ASSERT_EQ(drafts.size(), 1u);
    const std::string& raw = drafts[0].raw;
    const std::string headers = raw.substr(0, raw.find("\r\n\r\n") == std::string::npos ? raw.find("\n\n")
                                                                                          : raw.find("\r\n\r\n"));
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(raw[i]);
        EXPECT_FALSE(c == 0 || c == 0x1b || c == 0x01) << "byte " << int(c) << " at " << i;
        if (c == '\r') {
            EXPECT_TRUE(i + 1 < raw.size() && raw[i + 1] == '\n') << "bare CR at " << i;
        }
    }
    EXPECT_EQ(headers.find("\nBcc: intruso"), std::string::npos) << headers;
    const std::string d = testing::describe_mime(raw);
    EXPECT_THAT(d, HasSubstr("subject: Fattura  12  Bcc: intruso@example.it\n"));
    EXPECT_THAT(d, HasSubstr("to: Mario  Rossi <mario.rossi@example.it>\n"));
    EXPECT_THAT(d, HasSubstr("bcc: archivio@example.it\n"));  // the request's own, nothing added
    // The body arrives byte for byte (base64), after its position blank.
    EXPECT_THAT(d, HasSubstr("body: ' \\r\\nriga\\x00uno\\rriga due\\r\\n'"));
    EXPECT_THAT(raw, HasSubstr("Content-Transfer-Encoding: base64"));
    EXPECT_THAT(d, HasSubstr("attachment: a b.doc 3\n"));
}

}  // namespace
}  // namespace velarion
