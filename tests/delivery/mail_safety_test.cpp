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

TEST(MailSafety, EntriesOutsideTheFoldersStopEveryTransport) {
    MailContext m;
    testing::write_file(m.dir / "home/secret.txt", "SEGRETO");
    fs::create_symlink(m.dir / "home/secret.txt", m.work + "nota.pdf");  // a link in the work folder
    for (const std::string& entry : {m.dir / "home/secret.txt", std::string("../home/secret.txt"),
                                    std::string("nota.pdf"), std::string("../abc.txt")}) {
        DeliveryRequest r = testing::sample_request();
        r.lsAttacchedFile[0] = entry;
        for (const bool check_pdf : {true, false}) {
            m.list.clear();
            mail::Message msg;
            EXPECT_FALSE(add_attachments(m.rt, r, msg, check_pdf)) << entry;
            EXPECT_TRUE(msg.attachments.empty()) << entry;
            ASSERT_EQ(m.list.size(), 1u) << entry;
            EXPECT_EQ(m.list.lines()[0], kRefused + entry);
        }
        // The compose form of an Outlook client stores nothing either.
        m.write_mapi("client=Microsoft Outlook\n");
        r.lsSend = "SAVE";
        EXPECT_FALSE(m.dispatcher.sendmail(r)) << entry;
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
    r.lsAttacchedFile[0] = m.dir / "salvati/listino.pdf";
    mail::Message msg;
    msg.recipients.push_back({mail::RecipType::To, "mario.rossi@example.it"});
    ASSERT_TRUE(add_attachments(m.rt, r, msg, true));
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
    r.lsAttacchedFile[0] = "a\x1b" "b.doc";
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
