#include "platform/mail/smtp_component.h"

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/mail_servers.h"

namespace velarion {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using mail::SmtpComponent;
using mail::SmtpError;
using testing::SmtpOptions;
using testing::SmtpServer;
using testing::TempDir;
using testing::TestCa;

// The events of one component, in the order they came.
struct Events {
    std::vector<std::string> all;
    std::vector<int> percents;

    void attach(SmtpComponent& c) {
        c.on_progress = [this](int p) {
            percents.push_back(p);
            all.push_back("progress " + std::to_string(p));
        };
        c.on_send_failed = [this](const std::string& e) { all.push_back("failed " + e); };
        c.on_send_successful = [this] { all.push_back("successful"); };
        c.on_status = [this](const std::string& s) { all.push_back("status " + s); };
    }
    std::string text() const { return ::testing::PrintToString(all); }
};

// A component for a server on loopback.
SmtpComponent component_for(const SmtpServer& server) {
    SmtpComponent c;
    c.SMTPHost = server.host_port();
    c.Timeout = 10;
    return c;
}

// A message with one recipient.
mail::Envelope letter() {
    return {.from = {"ufficio@velarion.example"},
            .to = {{"mario.rossi@example.it"}},
            .subject = "Prova",
            .body = "Testo\r\n"};
}

// A loopback address counts as another machine for these tests.
mail::TlsPolicy loopback_is_remote(const std::string& extra_ca = "") {
    mail::TlsPolicy p;
    p.local_addresses = {"::1"};
    p.extra_ca = extra_ca;
    return p;
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

TEST(SmtpComponent, SendsWithAuthTheMessageAsComposed) {
    SmtpServer server(SmtpOptions{.user = "ufficio", .password = "pa:ss@w%rd"});
    if (!server.skip_reason().empty()) GTEST_SKIP() << server.skip_reason();
    TempDir dir;
    testing::write_file(dir / "fattura.pdf", "%PDF-1.4 fattura");
    testing::write_file(dir / "condizioni.doc", std::string(200000, 'x'));

    SmtpComponent c = component_for(server);
    c.UseAuthentication = true;
    c.UserName = "ufficio";
    c.Password = "pa:ss@w%rd";
    mail::Envelope e;
    e.from = {"ufficio@velarion.example", "ufficio@velarion.example"};
    e.reply_to = "risposte@velarion.example";
    e.to = {{"mario.rossi@example.it"}, {""}, {"Anna <anna.bianchi@example.it>"}, {" "}};
    e.cc = {{"contabilita@example.it", "contabilita@example.it:ufficio@velarion.example"},
            {"ufficio@velarion.example"}};
    e.bcc = {"archivio@example.it"};
    e.subject = "Fattura n\xB0 12 - citt\xE0 di Forl\xEC";
    e.body = "Gentile cliente,\r\nin allegato la fattura \x80 1.000\r\n";
    e.attachments = {{.path = dir / "fattura.pdf"}, {.path = dir / "condizioni.doc"}};
    e.receipt = true;
    Events ev;
    ev.attach(c);
    c.Send(e);

    ASSERT_FALSE(c.failed()) << ev.text();
    EXPECT_EQ(ev.all.back(), "successful");
    EXPECT_EQ(ev.all.front(), "status Connecting to " + server.host_port());
    EXPECT_EQ(ev.percents.back(), 100);
    EXPECT_EQ(server.logins(), "ufficio pa:ss@w%rd\n");

    const auto got = server.messages(1);
    ASSERT_EQ(got.size(), 1u);
    const std::string d = testing::describe_mime(got[0]);
    EXPECT_THAT(d, HasSubstr("subject: Fattura n\u00B0 12 - citt\u00E0 di Forl\u00EC\n"));
    EXPECT_THAT(d, HasSubstr("from: ufficio@velarion.example\n"));
    EXPECT_THAT(d, HasSubstr("to: mario.rossi@example.it, Anna <anna.bianchi@example.it>\n"));
    // A copy recipient shown with a name of its own.
    EXPECT_THAT(d, HasSubstr("cc: \"contabilita@example.it:ufficio@velarion.example\" <contabilita@example.it>, "
                             "ufficio@velarion.example\n"));
    EXPECT_THAT(d, HasSubstr("bcc: None\n"));
    EXPECT_THAT(d, HasSubstr("reply-to: risposte@velarion.example\n"));
    EXPECT_THAT(d, HasSubstr("dnt: ufficio@velarion.example\n"));
    EXPECT_THAT(d, HasSubstr("rcptto: mario.rossi@example.it, anna.bianchi@example.it, contabilita@example.it, "
                             "ufficio@velarion.example, archivio@example.it\n"));
    EXPECT_THAT(d, HasSubstr("body: 'Gentile cliente,\\nin allegato la fattura \u20AC 1.000\\n'"));
    EXPECT_THAT(d, HasSubstr("attachment: fattura.pdf 16\nattachment: condizioni.doc 200000\n"));
    EXPECT_THAT(got[0], Not(HasSubstr("Bcc")));
}

TEST(SmtpComponent, NoAuthWhenTheServerOffersNone) {
    SmtpServer server;
    if (!server.skip_reason().empty()) GTEST_SKIP() << server.skip_reason();
    SmtpComponent c = component_for(server);
    c.UseAuthentication = true;
    c.UserName = "ufficio";
    c.Password = "segreta";
    Events ev;
    ev.attach(c);
    c.Send(letter());
    ASSERT_FALSE(c.failed()) << ev.text();
    EXPECT_EQ(server.messages(1).size(), 1u);
    EXPECT_THAT(server.received(), Not(HasSubstr("AUTH")));
}

TEST(SmtpComponent, StarttlsWithACertificateOfTheExtraCa) {
    TestCa ca;
    if (!ca.skip_reason().empty()) GTEST_SKIP() << ca.skip_reason();
    SmtpServer server(
        SmtpOptions{.user = "ufficio", .password = "segreta", .cert = ca.cert_file(), .key = ca.key_file()});
    if (!server.skip_reason().empty()) GTEST_SKIP() << server.skip_reason();

    SmtpComponent c = component_for(server);
    c.UseAuthentication = true;
    c.UserName = "ufficio";
    c.Password = "segreta";
    c.Tls = loopback_is_remote(ca.ca_file());
    Events ev;
    ev.attach(c);
    c.Send(letter());
    ASSERT_FALSE(c.failed()) << ev.text();
    EXPECT_THAT(ev.all, ::testing::Contains("status Connected to " + server.host_port() + " with TLS"));
    EXPECT_EQ(server.logins(), "ufficio segreta\n");
    EXPECT_EQ(server.messages(1).size(), 1u);

    // Without the test CA the certificate is not trusted: nothing is sent.
    SmtpComponent untrusted = component_for(server);
    untrusted.UseAuthentication = true;
    untrusted.UserName = "ufficio";
    untrusted.Password = "segreta";
    untrusted.Tls = loopback_is_remote();
    untrusted.Send(letter());
    EXPECT_EQ(untrusted.error(), SmtpError::tls) << untrusted.error_text();
    EXPECT_THAT(untrusted.error_text(), HasSubstr("certificate"));
    EXPECT_EQ(server.logins(), "ufficio segreta\n");
    EXPECT_EQ(server.messages(1, 0).size(), 1u);
}

TEST(SmtpComponent, RefusedStarttlsKeepsTheCredentialsFromAnotherMachine) {
    SmtpServer server(SmtpOptions{.user = "ufficio", .password = "segreta", .refuse_starttls = true});
    if (!server.skip_reason().empty()) GTEST_SKIP() << server.skip_reason();

    SmtpComponent c = component_for(server);
    c.UseAuthentication = true;
    c.UserName = "ufficio";
    c.Password = "segreta";
    c.Tls = loopback_is_remote();
    Events ev;
    ev.attach(c);
    c.Send(letter());
    EXPECT_EQ(c.error(), SmtpError::tls) << c.error_text();
    EXPECT_THAT(c.error_text(), HasSubstr("STARTTLS"));
    EXPECT_THAT(ev.all.back(), HasSubstr("failed "));
    EXPECT_THAT(server.received(), HasSubstr("STARTTLS"));
    EXPECT_THAT(server.received(), Not(HasSubstr("AUTH")));
    EXPECT_EQ(server.logins(), "");
    EXPECT_TRUE(server.messages(0, 0).empty());

    // With plain text allowed explicitly, the same server gets the login.
    c.Tls.allow_plain = true;
    c.Send(letter());
    EXPECT_FALSE(c.failed()) << c.error_text();
    EXPECT_EQ(server.logins(), "ufficio segreta\n");
}

TEST(SmtpComponent, RefusedLoginAndRecipient) {
    SmtpServer server(SmtpOptions{.reject_prefix = "nessuno", .user = "ufficio", .password = "segreta"});
    if (!server.skip_reason().empty()) GTEST_SKIP() << server.skip_reason();

    SmtpComponent c = component_for(server);
    c.UseAuthentication = true;
    c.UserName = "ufficio";
    c.Password = "sbagliata";
    c.Send(letter());
    EXPECT_EQ(c.error(), SmtpError::auth_refused) << c.error_text();
    EXPECT_THAT(c.error_text(), HasSubstr("ufficio"));
    EXPECT_THAT(c.error_text(), Not(HasSubstr("sbagliata")));
    EXPECT_FALSE(mail::is_temporary(c.error()));

    c.Password = "segreta";
    mail::Envelope refused = letter();
    refused.to = {{"nessuno@example.it"}};
    c.Send(refused);
    EXPECT_EQ(c.error(), SmtpError::recipient_refused) << c.error_text();
    EXPECT_THAT(c.error_text(), HasSubstr("550"));
    EXPECT_TRUE(server.messages(0, 0).empty());

    // The outcome is that of the last send.
    c.Send(letter());
    EXPECT_FALSE(c.failed()) << c.error_text();
    EXPECT_EQ(c.error_text(), "");
}

TEST(SmtpComponent, ServerThatDropsOrNeverAnswersOrIsNotThere) {
    SmtpServer dropping(SmtpOptions{.drop_in_data = true});
    if (!dropping.skip_reason().empty()) GTEST_SKIP() << dropping.skip_reason();
    // Dropped while the message is still being written (more than the
    // sockets' buffers hold): it surely did not arrive.
    TempDir dir;
    testing::write_file(dir / "grande.bin", std::string(16 << 20, 'x'));
    SmtpComponent c = component_for(dropping);
    mail::Envelope big = letter();
    big.attachments = {{.path = dir / "grande.bin"}};
    c.Send(big);
    EXPECT_EQ(c.error(), SmtpError::connection_lost) << c.error_text();
    EXPECT_TRUE(mail::is_temporary(c.error()));

    // Accepted by the kernel, never answered: the configured time-out ends it.
    const int silent = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(silent, 4), 0);
    getsockname(silent, reinterpret_cast<sockaddr*>(&addr), &len);
    c.SMTPHost = "127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
    c.Timeout = 1;
    c.Send(letter());
    close(silent);
    EXPECT_EQ(c.error(), SmtpError::timed_out) << c.error_text();
    EXPECT_THAT(c.error_text(), HasSubstr("1 seconds (Timed out)"));

    // The library calls every failed connection timed out: the real cause is said.
    c.SMTPHost = "127.0.0.1:" + std::to_string(closed_port());
    c.Send(letter());
    EXPECT_EQ(c.error(), SmtpError::connection_refused) << c.error_text();
    EXPECT_THAT(c.error_text(), HasSubstr("cannot connect (Connection refused)"));
    EXPECT_THAT(c.error_text(), Not(HasSubstr("timed out")));

    c.SMTPHost = "smtp.velarion.invalid";
    c.Send(letter());
    EXPECT_EQ(c.error(), SmtpError::name_not_resolved) << c.error_text();
    EXPECT_THAT(c.error_text(), HasSubstr("Name not resolved: smtp.velarion.invalid"));
}

// The answer to the end of the message gets a wait of its own, longer than
// that of every other answer: a server that stores the message and answers
// late has delivered it, and a client that gives up sends it twice.
TEST(SmtpComponent, TheAnswerToTheEndOfTheMessageHasItsOwnWait) {
    SmtpServer slow(SmtpOptions{.data_reply_delay = 3});
    if (!slow.skip_reason().empty()) GTEST_SKIP() << slow.skip_reason();
    SmtpComponent c = component_for(slow);
    c.Timeout = 1;  // every other answer
    c.Send(letter());
    EXPECT_FALSE(c.failed()) << c.error_text();
    auto got = slow.messages(1);
    ASSERT_EQ(got.size(), 1u);
    // The envelope's sender is the message's.
    EXPECT_THAT(got[0], HasSubstr("X-MailFrom: ufficio@velarion.example"));

    // A data wait shorter than the server's delay: the message was stored,
    // and the failure says that it may have been.
    c.DataTimeout = 1;
    c.Send(letter());
    EXPECT_EQ(c.error(), SmtpError::maybe_delivered) << c.error_text();
    EXPECT_TRUE(mail::is_temporary(c.error()));
    EXPECT_THAT(c.error_text(), HasSubstr("did not answer within 1 seconds after the end of the message (Timed out)"));
    EXPECT_THAT(c.error_text(), HasSubstr("the message may already have been delivered"));
    EXPECT_EQ(slow.messages(2).size(), 2u);

    // Stored, then the connection dropped without an answer.
    SmtpServer dropping(SmtpOptions{.drop_after_data = true});
    if (!dropping.skip_reason().empty()) GTEST_SKIP() << dropping.skip_reason();
    c = component_for(dropping);
    int data_ends = 0;
    c.on_data_end = [&] { ++data_ends; };
    c.Send(letter());
    EXPECT_EQ(data_ends, 1);
    EXPECT_EQ(c.error(), SmtpError::maybe_delivered) << c.error_text();
    EXPECT_THAT(c.error_text(), HasSubstr("closed the connection after the end of the message"));
    EXPECT_EQ(dropping.messages(1).size(), 1u);
}

TEST(SmtpComponent, PortFromHostThenPortSettingThen25) {
    SmtpServer server;
    if (!server.skip_reason().empty()) GTEST_SKIP() << server.skip_reason();
    SmtpComponent c = component_for(server);
    c.SMTPHost = "127.0.0.1";
    c.SMTPPort = std::to_string(server.port());
    c.Send(letter());
    EXPECT_FALSE(c.failed()) << c.error_text();

    c.SMTPHost = server.host_port();
    c.SMTPPort = std::to_string(closed_port());
    c.Send(letter());
    EXPECT_FALSE(c.failed()) << c.error_text();
    EXPECT_EQ(server.messages(2).size(), 2u);

    Events ev;
    ev.attach(c);
    for (const std::string port : {"abc", "0", "65536", "25a", "-25"}) {
        c.SMTPHost = "127.0.0.1";
        c.SMTPPort = port;
        ev.all.clear();
        c.Send(letter());
        EXPECT_EQ(c.error(), SmtpError::bad_settings) << port;
        EXPECT_THAT(c.error_text(), HasSubstr("\"" + port + "\" is not a whole number from 1 to 65535"));
        EXPECT_EQ(ev.all, std::vector<std::string>{"failed " + c.error_text()});
    }
    c.SMTPHost = "127.0.0.1:x";
    c.SMTPPort = std::to_string(server.port());
    c.Send(letter());
    EXPECT_EQ(c.error(), SmtpError::bad_settings);

    // A blank port setting means 25 (a host that does not resolve: nothing is sent).
    c.SMTPHost = "smtp.velarion.invalid";
    c.SMTPPort = " ";
    ev.all.clear();
    c.Send(letter());
    EXPECT_EQ(ev.all.front(), "status Connecting to smtp.velarion.invalid:25");
}

TEST(SmtpComponent, MissingSenderRecipientOrAttachment) {
    SmtpServer server;
    if (!server.skip_reason().empty()) GTEST_SKIP() << server.skip_reason();
    SmtpComponent c = component_for(server);
    mail::Envelope e = letter();
    e.from = {""};
    c.Send(e);
    EXPECT_EQ(c.error(), SmtpError::bad_address);
    EXPECT_EQ(c.error_text(), "No sender address");

    e = letter();
    e.to = {{""}, {" "}};
    c.Send(e);
    EXPECT_EQ(c.error(), SmtpError::bad_address);

    e = letter();
    e.to = {{"mario rossi"}};
    c.Send(e);
    EXPECT_EQ(c.error(), SmtpError::bad_address);
    EXPECT_THAT(c.error_text(), HasSubstr("mario rossi"));

    e = letter();
    e.attachments = {{.path = "/nessuna/cartella/fattura.pdf"}};
    c.Send(e);
    EXPECT_EQ(c.error(), SmtpError::attachment_missing);
    EXPECT_TRUE(server.messages(0, 0).empty());
}

}  // namespace
}  // namespace velarion
