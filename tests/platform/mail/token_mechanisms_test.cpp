// Signing on with an access token to servers that offer only XOAUTH2, only
// OAUTHBEARER, or both beside LOGIN: SMTP through the mail layer and the
// SMTP component, and IMAP drafts, on a real token endpoint, aiosmtpd and
// dovecot that check the tokens.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/mail/mail.h"
#include "platform/mail/oauth_token.h"
#include "platform/mail/smtp_component.h"
#include "support/mail_servers.h"

namespace velarion {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using testing::SmtpOptions;
using testing::SmtpServer;
using testing::TempDir;
using testing::TokenOptions;
using testing::TokenServer;

// What a server offers, and the mechanism a token is expected to go through.
struct Offer {
    std::string mechanisms;
    std::string expected;
};

void PrintTo(const Offer& offer, std::ostream* os) { *os << offer.mechanisms; }

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

class TokenMechanisms : public ::testing::TestWithParam<Offer> {
protected:
    void SetUp() override {
        endpoint = std::make_unique<TokenServer>();
        if (!endpoint->skip_reason().empty()) GTEST_SKIP() << endpoint->skip_reason();
        endpoint->set_refresh_token("rt-mech-1");
        config.token_url = endpoint->url();
        config.client_id = TokenOptions{}.client_id;
        config.client_secret = TokenOptions{}.client_secret;
        config.refresh_token_file = dir / "refresh_token";
        testing::write_file(config.refresh_token_file, "rt-mech-1\n");
        chmod(config.refresh_token_file.c_str(), 0600);
    }

    static mail::Message message(const std::string& subject) {
        mail::Message m;
        m.subject = subject;
        m.recipients = {{mail::RecipType::To, "luigi@example.test"}};
        m.note_text = "Testo\r\n";
        return m;
    }

    // dovecot whose oauth2 passdb asks the endpoint's introspection about a
    // token, offering the mechanisms of the parameter.
    std::unique_ptr<testing::ImapServer> imap_server() {
        testing::write_file(dir / "oauth2.conf", "introspection_mode = post\nintrospection_url = " +
                                                     endpoint->introspection_url() +
                                                     "\nusername_attribute = username\nactive_attribute = active\n"
                                                     "active_value = true\n");
        chmod((dir / "oauth2.conf").c_str(), 0644);
        chmod(dir.path().c_str(), 0755);
        return std::make_unique<testing::ImapServer>(
            user, "password-non-usata", "", "",
            "auth_mechanisms = " + lower(GetParam().mechanisms) +
                "\npassdb {\n  driver = oauth2\n  mechanisms = xoauth2 oauthbearer\n  args = " + dir / "oauth2.conf" +
                "\n}\n");
    }

    const std::string user = TokenOptions{}.user;
    std::unique_ptr<TokenServer> endpoint;
    TempDir dir;
    oauth::Tokens tokens;
    oauth::Config config;
};

TEST_P(TokenMechanisms, SmtpSignsOnThroughTheMechanismOfferedAndReplacesARefusedToken) {
    SmtpServer smtp(SmtpOptions{.oauth_issued = endpoint->issued_file(), .mechanisms = GetParam().mechanisms});
    if (!smtp.skip_reason().empty()) GTEST_SKIP() << smtp.skip_reason();
    mail::Profile p;
    p.store = "maildir://localhost" + dir.path() + "store";
    p.transport = smtp.url();
    p.from = user;
    p.timeout = 10;
    p.oauth = {config, &tokens};
    const auto send = [&](const std::string& subject) {
        auto session = mail::open_session(p);
        session->sign_on(user, "");
        session->send(message(subject), false);
    };
    EXPECT_NO_THROW(send("primo"));
    // A revoked token is refused; one fresh token serves.
    endpoint->revoke_access_tokens();
    EXPECT_NO_THROW(send("secondo"));

    mail::SmtpComponent c;
    c.SMTPHost = smtp.host_port();
    c.UserName = user;
    c.Password = "non-usata";
    const mail::Envelope e{.from = {user}, .to = {{"luigi@example.test"}}, .subject = "cdo", .body = "Testo\r\n"};
    c.Timeout = 10;
    c.OAuth = {config, &tokens};
    c.Send(e);
    EXPECT_FALSE(c.failed()) << c.error_text();

    EXPECT_EQ(smtp.messages(3).size(), 3u);
    const std::string logins = smtp.logins();
    const std::string through = GetParam().expected + " " + user + "\n";
    EXPECT_EQ(testing::count_of(logins, through), 4) << logins;  // the second send tried twice
    EXPECT_EQ(testing::count_of(logins, "\n"), 4) << logins;     // through nothing else
    EXPECT_THAT(logins, Not(HasSubstr("answered the error")));
    EXPECT_EQ(endpoint->requests(), "refresh_token\nrefresh_token\n");
}

TEST_P(TokenMechanisms, ImapDraftIsStoredThroughTheMechanismOfferedAndARefusedTokenIsReplaced) {
    auto imap = imap_server();
    if (!imap->skip_reason().empty())
        GTEST_SKIP() << "this dovecot has no oauth2 passdb, or it did not start: " << imap->skip_reason();
    mail::Profile p;
    p.store = imap->url(false);
    p.transport = "sendmail://localhost";
    p.from = user;
    p.timeout = 10;
    p.oauth = {config, &tokens};
    for (const char* subject : {"bozza", "bozza dopo la revoca"}) {
        try {
            auto session = mail::open_session(p);
            session->sign_on(user, "");
            session->save(message(subject));
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what() << "\n" << imap->log();
        }
        endpoint->revoke_access_tokens();
    }
    EXPECT_EQ(imap->messages("Drafts").size(), 2u) << imap->log();
    EXPECT_EQ(endpoint->requests(), "refresh_token\nrefresh_token\n");
    // Every login and attempt went through the mechanism expected.
    const std::string log = imap->log();
    EXPECT_GE(testing::count_of(log, "Login: user=<" + user + ">, method=" + GetParam().expected + ","), 2) << log;
    EXPECT_EQ(testing::count_of(log, "method="), testing::count_of(log, "method=" + GetParam().expected + ","))
        << log;
}

INSTANTIATE_TEST_SUITE_P(Offers, TokenMechanisms,
                         ::testing::Values(Offer{"XOAUTH2", "XOAUTH2"}, Offer{"OAUTHBEARER", "OAUTHBEARER"},
                                           Offer{"XOAUTH2 OAUTHBEARER LOGIN", "XOAUTH2"}),
                         [](const auto& info) {
                             std::string name = info.param.mechanisms;
                             for (auto& c : name)
                                 if (c == ' ') c = '_';
                             return name;
                         });

// A password still goes through what GNU SASL suggests where tokens are
// offered too, and never through a token mechanism.
TEST(TokenMechanismsBeside, PasswordSignsOnWithLogin) {
    TempDir dir;
    SmtpServer smtp(SmtpOptions{.user = "velarion",
                                .password = "segreta",
                                .oauth_issued = (dir / "issued"),
                                .mechanisms = "XOAUTH2 OAUTHBEARER LOGIN"});
    if (!smtp.skip_reason().empty()) GTEST_SKIP() << smtp.skip_reason();
    mail::SmtpComponent c;
    c.SMTPHost = smtp.host_port();
    c.UseAuthentication = true;
    c.UserName = "velarion";
    c.Password = "segreta";
    const mail::Envelope e{
        .from = {"velarion@example.test"}, .to = {{"luigi@example.test"}}, .subject = "password", .body = "Testo\r\n"};
    c.Timeout = 10;
    c.Send(e);
    EXPECT_FALSE(c.failed()) << c.error_text();
    EXPECT_EQ(smtp.logins(), "velarion segreta\n");
}

}  // namespace
}  // namespace velarion
