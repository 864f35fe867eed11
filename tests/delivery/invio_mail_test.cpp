#include "delivery/invio_mail.h"

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "mail_test_support.h"

namespace velarion {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using testing::MailContext;
using testing::SmtpOptions;
using testing::SmtpServer;

const std::string kStamp = "07/12/2026 10:30:00";

// The agent with "cdo:" on and section "CDO" pointing at a server on loopback.
void use_smtp(MailContext& m, int port, const std::string& extra_ini = "") {
    m.write_mapi(extra_ini);
    m.cfg.sw.smtp_component = true;
    m.cfg.op.smtpserver = "127.0.0.1";
    m.cfg.op.smtport = std::to_string(port);
    m.cfg.op.username = "ufficio@velarion.example";
    m.cfg.op.password = "segreta";
    m.cfg.derive();
}

// A loopback port where nothing listens.
int closed_port() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

std::string lines_of(const MailContext& m) { return ::testing::PrintToString(m.list.lines()); }

// Nothing in the list, the message boxes or the log files shows the password.
void expect_no_password(const MailContext& m, const std::string& password) {
    for (const auto& l : m.list.lines()) EXPECT_THAT(l, Not(HasSubstr(password)));
    for (const auto& b : m.view.boxes) EXPECT_THAT(b, Not(HasSubstr(password)));
    std::error_code ec;
    for (const auto& e : std::filesystem::recursive_directory_iterator(m.work + "log", ec))
        EXPECT_THAT(testing::read_file(e.path().string()), Not(HasSubstr(password)));
}

TEST(INVIOmail, SendsWithACopyToTheSenderAndItsLines) {
    SmtpServer smtp(SmtpOptions{.user = "ufficio@velarion.example", .password = "segreta"});
    if (!smtp.skip_reason().empty()) GTEST_SKIP() << smtp.skip_reason();
    MailContext m;
    use_smtp(m, smtp.port());
    DeliveryRequest r = testing::request_with_attachments(m);
    m.list.add(" riga precedente");  // written to the log before the send

    ASSERT_TRUE(m.dispatcher.sendmail(r)) << lines_of(m);
    const std::string where = "127.0.0.1:" + std::to_string(smtp.port());
    EXPECT_THAT(m.list.lines(), ElementsAre("Connecting to " + where, "Connected to " + where + " without TLS",
                                            "Sending message", kStamp + " 25 % complete", kStamp + " 50 % complete",
                                            kStamp + " 75 % complete", kStamp + " 100 % complete",
                                            kStamp + " Send Successful!", kStamp + " Messages sent " + r.lsTo,
                                            kStamp + " Rinnovo Info Log Messaggio Spedito con successo " + r.lsObj));
    EXPECT_THAT(testing::read_file(m.work + "log/velarion_log_lun_07.txt"), HasSubstr(" riga precedente"));
    EXPECT_EQ(smtp.logins(), "ufficio@velarion.example segreta\n");

    // No sender in the message, no "from": the account sends and gets the copy.
    const auto got = smtp.messages(1);
    ASSERT_EQ(got.size(), 1u);
    const std::string d = testing::describe_mime(got[0]);
    EXPECT_THAT(d, HasSubstr("subject: Fattura n\u00B0 12 - citt\u00E0 di Forl\u00EC\n"));
    EXPECT_THAT(d, HasSubstr("from: ufficio@velarion.example\n"));
    EXPECT_THAT(d, HasSubstr("to: mario.rossi@example.it, anna.bianchi@example.it\n"));
    EXPECT_THAT(d, HasSubstr("cc: \"contabilita@example.it:ufficio@velarion.example\" <contabilita@example.it>, "
                             "ufficio@velarion.example\n"));
    EXPECT_THAT(d, HasSubstr("bcc: None\n"));
    EXPECT_THAT(d, HasSubstr("reply-to: ufficio@velarion.example\n"));
    EXPECT_THAT(d, HasSubstr("dnt: ufficio@velarion.example\n"));
    EXPECT_THAT(d, HasSubstr("rcptto: mario.rossi@example.it, anna.bianchi@example.it, contabilita@example.it, "
                             "ufficio@velarion.example, archivio@example.it\n"));
    EXPECT_THAT(d, HasSubstr("body: 'Gentile cliente,\\nin allegato la fattura. Cordiali saluti \u20AC 1.000\\n'"));
    EXPECT_THAT(d, HasSubstr("attachment: 000123.pdf 16\nattachment: condizioni.doc 19\n"));
    expect_no_password(m, "segreta");
}

// The file name check lets ";" through: such an attachment travels whole.
TEST(INVIOmail, AnAttachmentWhoseNameHoldsASemicolonIsDelivered) {
    SmtpServer smtp;
    if (!smtp.skip_reason().empty()) GTEST_SKIP() << smtp.skip_reason();
    MailContext m;
    use_smtp(m, smtp.port());
    m.work_file("listino;2027.doc", "listino prezzi");
    m.work_file("000123.pdf", "%PDF-1.4 fattura");
    DeliveryRequest r = testing::sample_request();
    testing::attach(m, r, "listino;2027.doc");
    testing::attach(m, r, "000123.txt");

    ASSERT_TRUE(m.dispatcher.sendmail(r)) << lines_of(m);
    const auto got = smtp.messages(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_THAT(testing::describe_mime(got[0]),
                HasSubstr("attachment: listino;2027.doc 14\nattachment: 000123.pdf 16\n"));
}

TEST(INVIOmail, RefusedRecipientThenTheErrorReportToTheSender) {
    SmtpServer smtp("sconosciuto");
    if (!smtp.skip_reason().empty()) GTEST_SKIP() << smtp.skip_reason();
    MailContext m;
    use_smtp(m, smtp.port());
    m.cfg.op.from = "cdo@velarion.example";
    m.cfg.derive();
    DeliveryRequest r = testing::request_with_attachments(m);
    r.lsTo = "sconosciuto@example.it";
    r.lscc = "";

    EXPECT_FALSE(m.dispatcher.sendmail(r)) << lines_of(m);
    const std::string where = "127.0.0.1:" + std::to_string(smtp.port());
    const auto& lines = m.list.lines();
    const auto at = [&](const std::string& text) {
        return std::find(lines.begin(), lines.end(), text) - lines.begin();
    };
    // The explanation follows on the next line, where the CR LF puts it.
    const std::string failed = kStamp + " Your attempt to send mail failed for the following reason(s): ";
    ASSERT_LT(at(failed), lines.size()) << lines_of(m);
    EXPECT_EQ(at(where + " answered 550 to RCPT TO:<sconosciuto@example.it>: 5.1.1 Unknown user"), at(failed) + 1);
    EXPECT_EQ(at(kStamp + " Messages not sent sconosciuto@example.it"), at(failed) + 2);
    EXPECT_LT(at(kStamp + " Send Successful!"), lines.size());
    EXPECT_EQ(at(kStamp + " Messages sent sconosciuto@example.it"), at(kStamp + " Send Successful!") + 1);
    // The final line follows the message, which was not sent.
    EXPECT_EQ(lines.back(), kStamp + " Rinnovo Info Log  Messaggio non  spedito " + r.lsObj);

    const auto got = smtp.messages(1);
    ASSERT_EQ(got.size(), 1u);
    const std::string d = testing::describe_mime(got[0]);
    EXPECT_THAT(d, HasSubstr("subject:  *** ERRORE INVIO MAIL *** Fattura n\u00B0 12"));
    EXPECT_THAT(d, HasSubstr("to: cdo@velarion.example\n"));
    EXPECT_THAT(d, HasSubstr("cc: None\n"));
    EXPECT_THAT(d, HasSubstr("rcptto: cdo@velarion.example\n"));
    EXPECT_THAT(d, HasSubstr("body: '*** ERRORE INVIO MAIL *** \\nDESTINATARI: sconosciuto@example.it\\nCOPIA CC: "
                             "\\nGentile cliente,\\n"));
    EXPECT_THAT(d, HasSubstr("attachment: 000123.pdf 16\nattachment: condizioni.doc 19\n"));
}

// The fax gateway gets the zip archive message processing made, as on every
// transport, never the PDF itself.
TEST(INVIOmail, FaxGatewayGetsTheZipArchive) {
    SmtpServer smtp;
    if (!smtp.skip_reason().empty()) GTEST_SKIP() << smtp.skip_reason();
    MailContext m;
    use_smtp(m, smtp.port());
    m.work_file("000123.pdf", "%PDF-1.4 fattura");
    m.work_file("000123.zip", "PK archivio");
    DeliveryRequest r = testing::sample_request();
    r.lsTo = "0612345@fax";
    r.lscc.clear();
    r.fax = true;
    testing::attach(m, r, "000123.txt");
    ASSERT_TRUE(m.dispatcher.sendmail(r)) << lines_of(m);
    const auto got = smtp.messages(1);
    ASSERT_EQ(got.size(), 1u);
    const std::string d = testing::describe_mime(got[0]);
    EXPECT_THAT(d, HasSubstr("attachment: 000123.zip 11\n"));
    EXPECT_THAT(d, Not(HasSubstr("000123.pdf")));
}

TEST(INVIOmail, SaveGoesToTheDraftsAndAllegatxtAttachesPrintFilesOnly) {
    SmtpServer smtp;
    if (!smtp.skip_reason().empty()) GTEST_SKIP() << smtp.skip_reason();
    MailContext m;
    use_smtp(m, smtp.port());
    DeliveryRequest r = testing::request_with_attachments(m);
    m.work_file("000123.txt", "testo stampa");
    r.allegatxt = true;

    r.lsSend = "SAVE";
    ASSERT_TRUE(m.dispatcher.sendmail(r)) << lines_of(m);
    EXPECT_EQ(m.list.lines().back(), kStamp + " Salvato 0000001234 - " + r.lsTo);
    EXPECT_EQ(testing::maildir_drafts(testing::store_root(m)).size(), 1u);
    EXPECT_TRUE(smtp.messages(0, 0).empty());

    r.lsSend = "SEND";
    ASSERT_TRUE(m.dispatcher.sendmail(r)) << lines_of(m);
    const auto got = smtp.messages(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_THAT(testing::describe_mime(got[0]),
                HasSubstr("attachment: 000123.pdf 16\nattachment: 000123.txt 12\nattachment: condizioni.doc 19\n"));

    // A print file whose PDF was not made: one line, nothing sent.
    testing::attach(m, r, "000999.txt");
    m.list.clear();
    EXPECT_FALSE(m.dispatcher.sendmail(r));
    EXPECT_EQ(m.list.lines().back(), kStamp + " Non esiste l'allegato pdf  Non mando l'email");
    EXPECT_EQ(smtp.messages(1, 0).size(), 1u);
}

// The explanations of both attempts of a send that cannot succeed.
std::vector<std::string> failures(const MailContext& m) {
    std::vector<std::string> out;
    const std::string heading = kStamp + " Your attempt to send mail failed for the following reason(s): ";
    const auto& lines = m.list.lines();
    for (std::size_t i = 0; i + 1 < lines.size(); ++i)
        if (lines[i] == heading) out.push_back(lines[i + 1]);
    return out;
}

TEST(INVIOmail, BadServersAndSettingsKeepTheMessage) {
    SmtpServer auth(SmtpOptions{.user = "ufficio@velarion.example", .password = "giusta"});
    SmtpServer dropping(SmtpOptions{.drop_in_data = true});
    SmtpServer slow(SmtpOptions{.data_reply_delay = 3});
    if (!auth.skip_reason().empty()) GTEST_SKIP() << auth.skip_reason();
    const int silent = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(silent, 4), 0);
    getsockname(silent, reinterpret_cast<sockaddr*>(&addr), &len);
    const int silent_port = ntohs(addr.sin_port);

    // A failure that is tried again later (or concerns the account) sends no
    // error report to the sender: only the message's own attempt fails.
    struct Case {
        std::string name;
        std::function<void(MailContext&)> set;
        std::string explanation;
        Delivered kind;
        std::size_t attempts;
    };
    const std::vector<Case> cases{
        {"refused login", [&](MailContext& m) { use_smtp(m, auth.port()); },
         "refused the login of ufficio@velarion.example", Delivered::logon_refused, 1},
        // The whole (small) message was written before the server went: it
        // cannot be told from a server that stored it and then went.
        {"drop once the message was written", [&](MailContext& m) { use_smtp(m, dropping.port()); },
         "the message may already have been delivered", Delivered::maybe_delivered, 1},
        {"stores and answers late",
         [&](MailContext& m) { use_smtp(m, slow.port(), "[GLOBAL]\nsmtp_attesa_dati=1\n"); },
         "did not answer within 1 seconds after the end of the message (Timed out)", Delivered::maybe_delivered, 1},
        {"never answers", [&](MailContext& m) { use_smtp(m, silent_port, "[CDO]\ntimeout=1\n"); },
         "did not answer within 1 seconds (Timed out)", Delivered::later, 1},
        {"nobody listens", [&](MailContext& m) { use_smtp(m, closed_port()); }, "cannot connect (Connection refused)",
         Delivered::server_down, 1},
        {"port not a number",
         [&](MailContext& m) {
             use_smtp(m, 25);
             m.cfg.op.smtport = "venticinque";
             m.cfg.derive();
         },
         "SMTP port \"venticinque\" is not a whole number from 1 to 65535", Delivered::server_down, 1},
        {"no sender",
         [&](MailContext& m) {
             use_smtp(m, auth.port());
             m.cfg.op.username = "";
             m.cfg.derive();
         },
         "No sender address", Delivered::failed, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MailContext m;
        c.set(m);
        const DeliveryRequest r = testing::sample_request();
        EXPECT_EQ(m.dispatcher.sendmail(r).result, c.kind);
        const auto why = failures(m);
        ASSERT_EQ(why.size(), c.attempts) << lines_of(m);
        EXPECT_THAT(why[0], HasSubstr(c.explanation));
        EXPECT_EQ(m.list.lines().back(), kStamp + " Rinnovo Info Log  Messaggio non  spedito " + r.lsObj);
        EXPECT_TRUE(m.view.boxes.empty());
        expect_no_password(m, "segreta");
    }
    close(silent);
    EXPECT_TRUE(auth.messages(0, 0).empty());
    EXPECT_TRUE(dropping.messages(0, 0).empty());
}

TEST(INVIOmail, CredentialsForAnotherMachineOnlyOverTls) {
    testing::TestCa ca;
    if (!ca.skip_reason().empty()) GTEST_SKIP() << ca.skip_reason();
    SmtpServer refusing(
        SmtpOptions{.user = "ufficio@velarion.example", .password = "segreta", .refuse_starttls = true});
    SmtpServer tls(SmtpOptions{
        .user = "ufficio@velarion.example", .password = "segreta", .cert = ca.cert_file(), .key = ca.key_file()});
    if (!refusing.skip_reason().empty()) GTEST_SKIP() << refusing.skip_reason();

    MailContext m;
    use_smtp(m, refusing.port(), "[TLS]\nindirizzi_locali=::1\n");
    const DeliveryRequest r = testing::sample_request();
    // Every message would meet it: the server counts as unusable, no report is sent.
    EXPECT_EQ(m.dispatcher.sendmail(r).result, Delivered::server_down);
    const auto why = failures(m);
    ASSERT_EQ(why.size(), 1u) << lines_of(m);
    EXPECT_THAT(why[0], HasSubstr("refused STARTTLS"));
    EXPECT_EQ(refusing.logins(), "");
    EXPECT_THAT(refusing.received(), Not(HasSubstr("AUTH")));
    EXPECT_TRUE(refusing.messages(0, 0).empty());

    MailContext trusted;
    use_smtp(trusted, tls.port(), "[TLS]\nindirizzi_locali=::1\nca_extra=" + ca.ca_file() + "\n");
    EXPECT_TRUE(trusted.dispatcher.sendmail(r)) << lines_of(trusted);
    EXPECT_EQ(tls.logins(), "ufficio@velarion.example segreta\n");
    EXPECT_EQ(tls.messages(1).size(), 1u);
}

}  // namespace
}  // namespace velarion
