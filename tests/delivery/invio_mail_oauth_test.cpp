// The "cdo:" transport signing on with OAuth 2.0: the keys of section
// "OAUTH2" reach the SMTP component, and what the token endpoint says
// decides what becomes of the message.
#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "delivery/invio_mail.h"
#include "mail_test_support.h"

namespace velarion {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using testing::MailContext;
using testing::TokenOptions;
using testing::TokenServer;

TEST(INVIOmailOAuth, SignsOnWithXoauth2AndATokenProblemKeepsTheMessage) {
    TokenServer endpoint;
    if (!endpoint.skip_reason().empty()) GTEST_SKIP() << endpoint.skip_reason();
    endpoint.set_refresh_token("rt-cdo-1");
    // A server that offers nothing but XOAUTH2.
    testing::SmtpServer smtp(testing::SmtpOptions{.oauth_issued = endpoint.issued_file(), .mechanisms = "XOAUTH2"});
    if (!smtp.skip_reason().empty()) GTEST_SKIP() << smtp.skip_reason();

    MailContext m;
    const std::string refresh = m.dir / "refresh_token";
    testing::write_file(refresh, "rt-cdo-1\n");
    chmod(refresh.c_str(), 0600);
    m.write_mapi("[OAUTH2]\ntoken_url=" + endpoint.url() + "\nclient_id=" + TokenOptions{}.client_id +
                 "\nclient_secret=" + TokenOptions{}.client_secret + "\nrefresh_token_file=" + refresh + "\n");
    m.cfg.sw.smtp_component = true;
    m.cfg.op.smtpserver = "127.0.0.1";
    m.cfg.op.smtport = std::to_string(smtp.port());
    m.cfg.op.username = TokenOptions{}.user;
    m.cfg.op.password = "non-usata";
    m.cfg.derive();
    const DeliveryRequest r = testing::sample_request();

    EXPECT_EQ(m.dispatcher.sendmail(r).result, Delivered::yes) << ::testing::PrintToString(m.list.lines());
    EXPECT_EQ(smtp.messages(1).size(), 1u);
    EXPECT_THAT(smtp.logins(), HasSubstr("XOAUTH2 " + TokenOptions{}.user));

    const std::string issued = testing::read_file(endpoint.issued_file());
    ASSERT_FALSE(issued.empty());
    endpoint.revoke_access_tokens();
    endpoint.down();
    // The signed-on connection serves the messages of one batch; the next
    // batch signs on again, with a token.
    m.dispatcher.end_batch();
    const auto down = m.dispatcher.sendmail(r);
    EXPECT_EQ(down.result, Delivered::server_down);

    endpoint.up();
    endpoint.set_refresh_token("rt-cdo-2");
    m.dispatcher.end_batch();
    const auto revoked = m.dispatcher.sendmail(r);
    EXPECT_EQ(revoked.result, Delivered::logon_refused);
    EXPECT_THAT(revoked.reason, HasSubstr("the refresh token must be renewed"));
    const std::vector<std::string> secrets{"rt-cdo-1", "rt-cdo-2", TokenOptions{}.client_secret,
                                           issued.substr(0, issued.find(' '))};
    for (const auto& l : m.list.lines())
        for (const auto& secret : secrets) EXPECT_THAT(l, Not(HasSubstr(secret)));
    EXPECT_EQ(smtp.messages(0, 0).size(), 1u);
}

}  // namespace
}  // namespace velarion
