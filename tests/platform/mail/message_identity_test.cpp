// A message's own Message-ID through the mail layer: kept at every try, used
// to find a draft a store kept without saying so, and the delivery status
// notifications (DSN) asked of SMTP servers that offer them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "platform/mail/mail.h"
#include "platform/mail/smtp_component.h"
#include "support/fault_servers.h"
#include "support/mail_servers.h"

namespace velarion {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using testing::TempDir;

mail::Message letter(const std::string& id) {
    mail::Message m;
    m.subject = "Fattura 7";
    m.recipients = {{mail::RecipType::To, "cliente@example.it"}};
    m.note_text = "In allegato.\r\n";
    m.message_id = id;
    return m;
}

mail::Profile profile(const std::string& store, const std::string& transport = "sendmail://localhost") {
    mail::Profile p;
    p.store = store;
    p.transport = transport;
    p.from = "ufficio@velarion.example";
    return p;
}

std::size_t files_in(const std::string& maildir_folder) {
    std::size_t n = 0;
    std::error_code ec;
    for (const char* sub : {"cur", "new"})
        for (fs::directory_iterator it(maildir_folder + "/" + sub, ec), end; !ec && it != end; it.increment(ec)) ++n;
    return n;
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The header line `name` of a raw message, whatever the case of its name ("" when missing).
std::string header(const std::string& raw, const std::string& name) {
    const auto at = lower(raw).find("\n" + lower(name) + ": ");
    if (at == std::string::npos) return "";
    const auto start = at + name.size() + 3;
    return raw.substr(start, raw.find_first_of("\r\n", start) - start);
}

// The server's folder lists its messages in no particular order: these tests
// send them with rising Message-IDs.
std::vector<std::string> by_message_id(std::vector<std::string> messages) {
    std::sort(messages.begin(), messages.end(),
              [](const std::string& a, const std::string& b) { return header(a, "Message-ID") < header(b, "Message-ID"); });
    return messages;
}

// A draft or a message without any recipient is an unknown recipient,
// found before the store or the transport is touched.
TEST(MessageIdentity, AMessageWithoutRecipientsTouchesNeitherStoreNorTransport) {
    TempDir dir;
    auto session = mail::open_session(profile("maildir://localhost" + (dir / "posta"), "sendmail://localhost/" + (dir / "none")));
    session->sign_on("", "");
    mail::Message m = letter("AB.9.0a1b2c3d4e5f@agente");
    m.recipients = {{mail::RecipType::To, "  "}};
    for (const bool draft : {true, false}) {
        try {
            draft ? session->save(m) : session->send(m, false);
            ADD_FAILURE() << "no error";
        } catch (const NumberedError& e) {
            EXPECT_EQ(e.number(), mail::kUnknownRecipient) << e.what();
        }
    }
    EXPECT_FALSE(fs::exists(dir / "posta/Drafts"));
}

TEST(MessageIdentity, AMaildirDraftIsLookedForOnlyAfterAnUncertainTry) {
    TempDir dir;
    auto session = mail::open_session(profile("maildir://localhost" + (dir / "posta")));
    session->sign_on("", "");
    mail::Message m = letter("AB.7.0a1b2c3d4e5f@agente");
    session->save(m);
    const std::string drafts = dir / "posta/Drafts";
    ASSERT_EQ(files_in(drafts), 1u);
    // A try whose answer never came: the draft is there, so it is not stored again.
    m.maybe_stored = true;
    session->save(m);
    EXPECT_EQ(files_in(drafts), 1u);
    // Another message (another Message-ID) after an uncertain try is stored.
    mail::Message other = letter("AB.8.0a1b2c3d4e5f@agente");
    other.maybe_stored = true;
    session->save(other);
    EXPECT_EQ(files_in(drafts), 2u);
    for (const auto& e : fs::directory_iterator(drafts + "/cur")) {
        const std::string id = header(testing::read_file(e.path()), "Message-ID");
        EXPECT_TRUE(id == "<AB.7.0a1b2c3d4e5f@agente>" || id == "<AB.8.0a1b2c3d4e5f@agente>") << id;
    }
}

TEST(MessageIdentity, AnImapStoreThatDiesAfterStoringGetsTheDraftOnce) {
    testing::ImapServer imap;
    if (!imap.skip_reason().empty()) GTEST_SKIP() << imap.skip_reason();
    // The store's answer to the APPEND is lost with its connection, once.
    testing::StallProxy proxy(imap.port(), "[APPENDUID", 1, true);
    proxy.start();
    ASSERT_TRUE(proxy.skip_reason().empty()) << proxy.skip_reason();
    auto session = mail::open_session(profile("imap://" + imap.user() + ":" + imap.password() + "@127.0.0.1:" +
                                              std::to_string(proxy.port())));
    session->sign_on("", "");
    mail::Message m = letter("AB.9.0a1b2c3d4e5f@agente");
    try {
        session->save(m);
    } catch (const NumberedError& e) {
        // A failure may say so; the next try is then an uncertain one.
        EXPECT_NE(e.retry(), Retry::never) << e.what();
        m.maybe_stored = true;
        session->save(m);
    }
    EXPECT_EQ(proxy.stalls(), 1);
    const auto stored = imap.messages("Drafts");
    ASSERT_EQ(stored.size(), 1u) << imap.log();
    EXPECT_EQ(header(stored[0], "Message-ID"), "<AB.9.0a1b2c3d4e5f@agente>");
    // A later uncertain try of the same message finds it too.
    m.maybe_stored = true;
    session->save(m);
    EXPECT_EQ(imap.messages("Drafts").size(), 1u);
}

TEST(MessageIdentity, AServerOfferingDsnIsAskedForFailuresAndDelaysWithTheEnvelopeId) {
    testing::TempFailSmtp smtp("", "", true);
    if (!smtp.skip_reason().empty()) GTEST_SKIP() << smtp.skip_reason();
    auto session = mail::open_session(profile("maildir://localhost/nonusato", smtp.url()));
    mail::Message m = letter("AB.10.0a1b2c3d4e5f@agente");
    m.dsn.envelope_id = "AB.10.0a1b2c3d4e5f";
    session->send(m, false);
    // The kept connection carries a second message with the same request.
    mail::Message never = letter("AB.11.0a1b2c3d4e5f@agente");
    never.dsn = {"AB.11+x=y", "NEVER"};
    session->send(never, false);
    const auto got = by_message_id(smtp.messages(2));
    ASSERT_EQ(got.size(), 2u);
    EXPECT_THAT(header(got[0], "X-MailOptions"), HasSubstr(" RET=HDRS ENVID=AB.10.0A1B2C3D4E5F"));
    EXPECT_EQ(header(got[0], "X-RcptOptions"), "NOTIFY=FAILURE,DELAY");
    EXPECT_EQ(header(got[0], "Message-ID"), "<AB.10.0a1b2c3d4e5f@agente>");
    // NEVER asks for nothing back; "+" and "=" travel as xtext.
    EXPECT_THAT(header(got[1], "X-MailOptions"), Not(HasSubstr("RET=")));
    EXPECT_THAT(header(got[1], "X-MailOptions"), HasSubstr("ENVID=AB.11+2BX+3DY"));
    EXPECT_EQ(header(got[1], "X-RcptOptions"), "NOTIFY=NEVER");
    // The server's answer to the end of the data is kept.
    EXPECT_THAT(session->data_reply(), HasSubstr("250")) << session->data_reply();
}

// An address that needs SMTPUTF8 (RFC 6531) to a server that offers it and
// DSN: both in one transaction.
TEST(MessageIdentity, AnInternationalAddressAsksForNotificationsWhereSmtputf8IsOffered) {
    testing::TempFailSmtp smtp("", "", true, true);
    if (!smtp.skip_reason().empty()) GTEST_SKIP() << smtp.skip_reason();
    auto session = mail::open_session(profile("maildir://localhost/nonusato", smtp.url()));
    mail::Message m = letter("AB.14.0a1b2c3d4e5f@agente");
    m.recipients = {{mail::RecipType::To, "Cliente <cli\xE8nte@esempio.it>"}};  // Windows-1252 "è"
    m.dsn.envelope_id = "AB.14.0a1b2c3d4e5f";
    ASSERT_NO_THROW(session->send(m, false));
    const auto got = smtp.messages(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_THAT(header(got[0], "X-MailOptions"), HasSubstr("SMTPUTF8"));
    EXPECT_THAT(header(got[0], "X-MailOptions"), HasSubstr(" RET=HDRS ENVID=AB.14.0A1B2C3D4E5F"));
    EXPECT_EQ(header(got[0], "X-RcptOptions"), "NOTIFY=FAILURE,DELAY");
    // The envelope's recipient in UTF-8, as the server's handler writes it down.
    EXPECT_THAT(got[0], HasSubstr("X-RcptTo: =?utf-8?q?cli=C3=A8nte=40esempio=2Eit?=")) << got[0];
}

TEST(MessageIdentity, AServerWithoutDsnGetsThePlainCommandsAndTheSameMessageId) {
    // Without DSN, aiosmtpd refuses any parameter it does not know (555).
    testing::TempFailSmtp smtp("");
    if (!smtp.skip_reason().empty()) GTEST_SKIP() << smtp.skip_reason();
    auto session = mail::open_session(profile("maildir://localhost/nonusato", smtp.url()));
    mail::Message m = letter("AB.12.0a1b2c3d4e5f@agente");
    m.dsn.envelope_id = "AB.12.0a1b2c3d4e5f";
    ASSERT_NO_THROW(session->send(m, false));
    const auto got = smtp.messages(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(header(got[0], "Message-ID"), "<AB.12.0a1b2c3d4e5f@agente>");
    EXPECT_THAT(session->data_reply(), HasSubstr("250"));

    // The SMTP component the same way, with its own reply kept.
    mail::SmtpComponent c;
    c.SMTPHost = "127.0.0.1:" + std::to_string(smtp.port());
    c.MessageId = "AB.13.0a1b2c3d4e5f@agente";
    c.Dsn.envelope_id = "AB.13.0a1b2c3d4e5f";
    c.Send({.from = {"ufficio@velarion.example"},
            .to = {{"cliente@example.it"}},
            .subject = "Fattura 13",
            .body = "Testo"});
    ASSERT_FALSE(c.failed()) << c.error_text();
    const auto both = by_message_id(smtp.messages(2));
    ASSERT_EQ(both.size(), 2u);
    EXPECT_EQ(header(both[1], "Message-ID"), "<AB.13.0a1b2c3d4e5f@agente>");
    EXPECT_THAT(c.data_reply(), HasSubstr("250"));
}

}  // namespace
}  // namespace velarion
