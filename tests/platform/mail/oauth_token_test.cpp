#include "platform/mail/oauth_token.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <thread>

#include "platform/mail/mail.h"
#include "platform/mail/smtp_component.h"
#include "support/mail_servers.h"

namespace velarion {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using oauth::TokenError;
using testing::SmtpOptions;
using testing::SmtpServer;
using testing::TempDir;
using testing::TokenOptions;
using testing::TokenServer;

const std::string kRefresh = "rt-initial-5e3c9a";

// A secret file of the agent's user, mode 0600.
std::string secret_file(const TempDir& dir, const std::string& name, const std::string& value) {
    const std::string path = dir / name;
    testing::write_file(path, value + "\n");
    chmod(path.c_str(), 0600);
    return path;
}

oauth::Config config_for(const TokenServer& server, const TempDir& dir, const TokenOptions& o = {}) {
    oauth::Config c;
    c.token_url = server.url();
    c.client_id = o.client_id;
    c.client_secret_file = secret_file(dir, "client_secret", o.client_secret);
    c.refresh_token_file = secret_file(dir, "refresh_token", kRefresh);
    c.scope = "https://outlook.office365.com/SMTP.Send offline_access";
    return c;
}

TokenError::Kind kind_of(oauth::Tokens& tokens, const oauth::Config& c) {
    try {
        tokens.access_token(c, true);
    } catch (const TokenError& e) {
        return e.kind();
    }
    ADD_FAILURE() << "no TokenError";
    return TokenError::Kind::settings;
}

TEST(OAuthUrl, HttpsOrPlainHttpToThisMachineOnly) {
    EXPECT_EQ(oauth::url_refusal("https://login.microsoftonline.com/t/oauth2/v2.0/token"), "");
    EXPECT_EQ(oauth::url_refusal("http://127.0.0.1:8080/token"), "");
    EXPECT_EQ(oauth::url_refusal("http://[::1]:8080/token"), "");
    EXPECT_EQ(oauth::url_refusal("http://localhost/token"), "");
    EXPECT_THAT(oauth::url_refusal("http://oauth2.example.com/token"), HasSubstr("not HTTPS"));
    EXPECT_THAT(oauth::url_refusal("http://127.0.0.1.example.com/token"), HasSubstr("not HTTPS"));
    EXPECT_THAT(oauth::url_refusal("ftp://127.0.0.1/token"), HasSubstr("not HTTPS"));
}

TEST(OAuthSecretFile, RefusedWhenOthersCanReadIt) {
    TempDir dir;
    const std::string path = secret_file(dir, "secret", "  s3cr3t  ");
    EXPECT_EQ(oauth::read_secret_file(path), "s3cr3t");
    for (mode_t mode : {0640, 0604, 0660}) {
        chmod(path.c_str(), mode);
        try {
            oauth::read_secret_file(path);
            ADD_FAILURE() << "mode " << std::oct << mode << " accepted";
        } catch (const TokenError& e) {
            EXPECT_EQ(e.kind(), TokenError::Kind::settings);
            EXPECT_THAT(e.what(), HasSubstr("can be read by others: refused"));
            EXPECT_THAT(e.what(), Not(HasSubstr("s3cr3t")));
        }
    }
    EXPECT_THROW(oauth::read_secret_file(dir / "missing"), TokenError);
}

TEST(OAuthTokens, KeptUntilShortlyBeforeTheyExpireAndFetchedAgainWhenAsked) {
    TokenServer server;
    if (!server.skip_reason().empty()) GTEST_SKIP() << server.skip_reason();
    server.set_refresh_token(kRefresh);
    TempDir dir;
    oauth::Tokens tokens;
    const auto c = config_for(server, dir);
    const std::string first = tokens.access_token(c);
    EXPECT_EQ(tokens.access_token(c), first);
    const std::string fresh = tokens.access_token(c, true);
    EXPECT_NE(fresh, first);
    EXPECT_EQ(server.requests(), "refresh_token\nrefresh_token\n");
    const auto secrets = tokens.secrets(c);
    for (const auto& s : {first, fresh, kRefresh, std::string(TokenOptions{}.client_secret)})
        EXPECT_NE(std::find(secrets.begin(), secrets.end(), s), secrets.end()) << s;

    // A token that lives less than twice the margin is kept for half its life.
    TokenServer brief(TokenOptions{.claimed = 2});
    brief.set_refresh_token(kRefresh);
    oauth::Tokens short_lived(std::chrono::seconds(60));
    const auto b = config_for(brief, dir);
    const std::string t = short_lived.access_token(b);
    EXPECT_EQ(short_lived.access_token(b), t);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_NE(short_lived.access_token(b), t);
}

TEST(OAuthTokens, ClientCredentialsWhenNoRefreshToken) {
    TokenServer server;
    if (!server.skip_reason().empty()) GTEST_SKIP() << server.skip_reason();
    TempDir dir;
    oauth::Tokens tokens;
    auto c = config_for(server, dir);
    c.refresh_token_file.clear();
    c.client_secret_file.clear();
    c.client_secret = TokenOptions{}.client_secret;
    EXPECT_THAT(tokens.access_token(c), HasSubstr("at-"));
    EXPECT_EQ(server.requests(), "client_credentials\n");
    c.client_secret = "wrong";
    EXPECT_EQ(kind_of(tokens, c), TokenError::Kind::refused);
}

TEST(OAuthTokens, RotatedRefreshTokenWrittenBackPrivately) {
    TokenServer server(TokenOptions{.rotate = true});
    if (!server.skip_reason().empty()) GTEST_SKIP() << server.skip_reason();
    server.set_refresh_token(kRefresh);
    TempDir dir;
    oauth::Tokens tokens;
    const auto c = config_for(server, dir);
    tokens.access_token(c);
    const std::string rotated = server.refresh_token();
    ASSERT_NE(rotated, kRefresh);
    EXPECT_EQ(oauth::read_secret_file(c.refresh_token_file), rotated);
    struct stat st {};
    ASSERT_EQ(stat(c.refresh_token_file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // The next refresh uses the rotated one (the old one is no longer valid).
    tokens.access_token(c, true);
    EXPECT_EQ(oauth::read_secret_file(c.refresh_token_file), server.refresh_token());
}

TEST(OAuthTokens, RevokedGrantAndUnreachableEndpointAreTold) {
    TokenServer server;
    if (!server.skip_reason().empty()) GTEST_SKIP() << server.skip_reason();
    server.set_refresh_token("another");
    TempDir dir;
    oauth::Tokens tokens;
    const auto c = config_for(server, dir);
    try {
        tokens.access_token(c);
        FAIL() << "revoked refresh token accepted";
    } catch (const TokenError& e) {
        EXPECT_EQ(e.kind(), TokenError::Kind::invalid_grant);
        EXPECT_THAT(e.what(), HasSubstr("the refresh token must be renewed"));
        EXPECT_THAT(e.what(), Not(HasSubstr(kRefresh)));
    }
    server.down();
    EXPECT_EQ(kind_of(tokens, c), TokenError::Kind::unreachable);
    auto insecure = c;
    insecure.token_url = "http://token.example.com/token";
    EXPECT_EQ(kind_of(tokens, insecure), TokenError::Kind::settings);
}

TEST(OAuthTokens, HttpsEndpointTrustedThroughTheExtraCa) {
    testing::TestCa ca;
    if (!ca.skip_reason().empty()) GTEST_SKIP() << ca.skip_reason();
    TokenServer server(TokenOptions{.cert = ca.cert_file(), .key = ca.key_file()});
    if (!server.skip_reason().empty()) GTEST_SKIP() << server.skip_reason();
    server.set_refresh_token(kRefresh);
    TempDir dir;
    oauth::Tokens tokens;
    auto c = config_for(server, dir);
    ASSERT_EQ(c.token_url.rfind("https://", 0), 0u);
    EXPECT_EQ(kind_of(tokens, c), TokenError::Kind::unreachable);  // a certificate nobody vouches for
    c.extra_ca = ca.ca_file();
    EXPECT_THAT(tokens.access_token(c), HasSubstr("at-"));
}

// The mail layer and the SMTP component sign on with XOAUTH2 through a
// real token endpoint and an SMTP server that checks its tokens.
struct OAuthMail : ::testing::Test {
    TokenOptions options{.lifetime = 3600};
    std::unique_ptr<TokenServer> endpoint;
    std::unique_ptr<SmtpServer> smtp;
    TempDir dir;
    oauth::Tokens tokens;
    oauth::Config config;

    void start(const TokenOptions& o) {
        options = o;
        endpoint = std::make_unique<TokenServer>(o);
        if (!endpoint->skip_reason().empty()) GTEST_SKIP() << endpoint->skip_reason();
        endpoint->set_refresh_token(kRefresh);
        smtp = std::make_unique<SmtpServer>(SmtpOptions{.oauth_issued = endpoint->issued_file()});
        if (!smtp->skip_reason().empty()) GTEST_SKIP() << smtp->skip_reason();
        config = config_for(*endpoint, dir, o);
    }

    mail::Profile profile() {
        mail::Profile p;
        p.store = "maildir://localhost" + dir.path() + "store";
        p.transport = smtp->url();
        p.from = options.user;
        p.timeout = 10;
        p.oauth = {config, &tokens};
        return p;
    }

    static mail::Message message(const std::string& subject) {
        mail::Message m;
        m.subject = subject;
        m.recipients = {{mail::RecipType::To, "luigi@example.test"}};
        m.note_text = "Testo\r\n";
        return m;
    }

    void send(const std::string& subject) {
        auto session = mail::open_session(profile());
        session->sign_on(options.user, "");
        session->send(message(subject), false);
    }

    // The numbered error of a send that fails.
    NumberedError failed_send(const std::string& subject) {
        try {
            send(subject);
        } catch (const NumberedError& e) {
            return e;
        }
        ADD_FAILURE() << "the send did not fail";
        return NumberedError(0, "");
    }

    void expect_no_secret(const std::string& text) {
        for (const auto& s : tokens.secrets(config)) {
            if (!s.empty()) {
                EXPECT_THAT(text, Not(HasSubstr(s)));
            }
        }
        EXPECT_THAT(text, Not(HasSubstr(kRefresh)));
        EXPECT_THAT(text, Not(HasSubstr(options.client_secret)));
    }
};

TEST_F(OAuthMail, DeliveredWithAFreshTokenWhenTheKeptOneIsRefused) {
    // Tokens die after a second although the endpoint says an hour.
    start(TokenOptions{.lifetime = 1});
    send("primo");
    EXPECT_EQ(smtp->messages(1).size(), 1u);
    EXPECT_THAT(smtp->logins(), HasSubstr("XOAUTH2 " + options.user));
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    send("secondo");
    EXPECT_EQ(smtp->messages(2).size(), 2u);
    EXPECT_EQ(endpoint->requests(), "refresh_token\nrefresh_token\n");
    expect_no_secret(smtp->received());
}

TEST_F(OAuthMail, RevokedRefreshTokenIsARefusedLogonUntilItsFileIsRenewed) {
    start(TokenOptions{});
    endpoint->set_refresh_token("rt-renewed-77aa");
    const NumberedError e = failed_send("revocato");
    EXPECT_EQ(e.number(), mail::kLoginFailure);
    EXPECT_THAT(e.what(), HasSubstr("the refresh token must be renewed"));
    expect_no_secret(e.what());
    EXPECT_TRUE(smtp->messages().empty());
    secret_file(dir, "refresh_token", "rt-renewed-77aa");
    EXPECT_NO_THROW(send("rinnovato"));
    EXPECT_EQ(smtp->messages(1).size(), 1u);
}

TEST_F(OAuthMail, UnreachableEndpointIsServerDownThenDelivered) {
    start(TokenOptions{});
    endpoint->down();
    const NumberedError e = failed_send("giu");
    EXPECT_EQ(e.number(), mail::kFailure);
    EXPECT_EQ(e.retry(), Retry::server_down);
    endpoint->up();
    EXPECT_NO_THROW(send("su"));
    EXPECT_EQ(smtp->messages(1).size(), 1u);
}

TEST_F(OAuthMail, WrongUserIsRefusedAfterOneFreshToken) {
    start(TokenOptions{});
    auto session = mail::open_session(profile());
    session->sign_on("intruso@example.test", "");
    try {
        session->send(message("altro utente"), false);
        FAIL() << "sent for another user";
    } catch (const NumberedError& e) {
        EXPECT_EQ(e.number(), mail::kLoginFailure);
        expect_no_secret(e.what());
    }
    EXPECT_EQ(endpoint->requests(), "refresh_token\nrefresh_token\n");
    EXPECT_TRUE(smtp->messages().empty());
}

TEST_F(OAuthMail, SmtpComponentSignsOnWithXoauth2) {
    start(TokenOptions{.lifetime = 1});
    mail::SmtpComponent c;
    c.SMTPHost = smtp->host_port();
    c.UserName = options.user;
    c.Password = "not-used";
    const mail::Envelope e{.from = {options.user}, .to = {{"luigi@example.test"}}, .subject = "cdo", .body = "Testo\r\n"};
    c.Timeout = 10;
    c.OAuth = {config, &tokens};
    c.Send(e);
    EXPECT_FALSE(c.failed()) << c.error_text();
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    c.Send(e);  // the kept token has died: a fresh one
    EXPECT_FALSE(c.failed()) << c.error_text();
    EXPECT_EQ(smtp->messages(2).size(), 2u);
    EXPECT_THAT(smtp->logins(), Not(HasSubstr("not-used")));

    endpoint->down();
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    c.Send(e);
    EXPECT_EQ(c.error(), mail::SmtpError::token_unavailable) << c.error_text();
    EXPECT_TRUE(mail::is_temporary(c.error()));

    endpoint->up();
    endpoint->set_refresh_token("rt-other");
    c.Send(e);
    EXPECT_EQ(c.error(), mail::SmtpError::auth_refused);
    EXPECT_THAT(c.error_text(), HasSubstr("the refresh token must be renewed"));
    expect_no_secret(c.error_text());
}

// Drafts over IMAP on a dovecot whose oauth2 passdb asks the token
// endpoint's introspection whether a token is valid, and for whom.
TEST(OAuthImap, DraftStoredWithXoauth2AndAFreshTokenAfterARefusal) {
    TokenServer endpoint;
    if (!endpoint.skip_reason().empty()) GTEST_SKIP() << endpoint.skip_reason();
    endpoint.set_refresh_token(kRefresh);
    TempDir dir;
    const std::string user = TokenOptions{}.user;
    testing::write_file(dir / "oauth2.conf", "introspection_mode = post\nintrospection_url = " +
                                                 endpoint.introspection_url() +
                                                 "\nusername_attribute = username\nactive_attribute = active\n"
                                                 "active_value = true\n");
    chmod((dir / "oauth2.conf").c_str(), 0644);
    chmod(dir.path().c_str(), 0755);
    testing::ImapServer imap(user, "password-non-usata", "", "",
                             "auth_mechanisms = plain login xoauth2\npassdb {\n  driver = oauth2\n"
                             "  mechanisms = xoauth2\n  args = " + dir / "oauth2.conf" + "\n}\n");
    if (!imap.skip_reason().empty())
        GTEST_SKIP() << "this dovecot has no oauth2 passdb, or it did not start: " << imap.skip_reason();
    oauth::Tokens tokens;
    mail::Profile p;
    p.store = imap.url(false);
    p.transport = "sendmail://localhost";
    p.from = user;
    p.timeout = 10;
    p.oauth = {config_for(endpoint, dir), &tokens};
    mail::Message m;
    m.subject = "bozza";
    m.recipients = {{mail::RecipType::To, "luigi@example.test"}};
    m.note_text = "Testo\r\n";
    try {
        auto session = mail::open_session(p);
        session->sign_on(user, "");
        session->save(m);
    } catch (const std::exception& e) {
        FAIL() << e.what() << "\n" << imap.log();
    }
    endpoint.revoke_access_tokens();
    try {
        auto session = mail::open_session(p);  // the kept token was revoked: refused, then a fresh one
        session->sign_on(user, "");
        session->save(m);
    } catch (const std::exception& e) {
        FAIL() << e.what() << "\n" << imap.log() << endpoint.requests();
    }
    EXPECT_EQ(imap.messages("Drafts").size(), 2u) << imap.log();
    EXPECT_EQ(endpoint.requests(), "refresh_token\nrefresh_token\n");
    for (const auto& s : tokens.secrets(p.oauth.config))
        if (!s.empty()) {
            EXPECT_THAT(imap.log(), Not(HasSubstr(s)));
        }
}

}  // namespace
}  // namespace velarion
