// The whole program (build/bin/velarion) signing on with OAuth 2.0: an SMTP
// server that accepts only tokens its local token endpoint issued, for the
// right user; a revoked refresh token, an endpoint that is down; drafts over
// IMAP on a dovecot whose oauth2 passdb asks the endpoint; --test-mail; and no
// secret in any output, log, command line or environment.
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/background_process.h"
#include "support/agent_site.h"
#include "support/mail_servers.h"
#include "support/spool_state.h"
#include "support/test_support.h"

namespace velarion {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using testing::read_file;
using testing::run_program;
using testing::TempDir;
using testing::TokenOptions;
using testing::TokenServer;
using testing::write_file;

const std::string kVelarion = std::string(VELARION_BIN_DIR) + "/velarion";
const std::string kRefresh = "rt-9f8e7d6c5b4a";
const std::string kUser = TokenOptions{}.user;

// An installation of operator AB whose mail signs on with OAuth 2.0.
struct Site : testing::AgentSite {
    std::string refresh_file = root / "secrets/refresh_token";
    std::string secret_file = root / "secrets/client_secret";

    Site(const TokenServer& endpoint, const std::string& mapi, const std::string& extra = "") {
        write_secret(refresh_file, kRefresh);
        write_secret(secret_file, TokenOptions{}.client_secret);
        configure("retry_delays=1s\n",
                  "[MAPI]\n" + mapi + "[OAUTH2]\ntoken_url=" + endpoint.url() + "\nclient_id=" +
                      TokenOptions{}.client_id + "\nclient_secret_file=" + secret_file + "\nrefresh_token_file=" +
                      refresh_file + "\nscope=https://outlook.office365.com/SMTP.Send offline_access\n" + extra,
                  "EMailAddr=" + kUser + "\nlogin_email=" + kUser + "\n");
    }
    static void write_secret(const std::string& path, const std::string& value) {
        write_file(path, value + "\n");
        chmod(path.c_str(), 0600);
    }
    testing::ProcessResult test_mail() const {
        return run_program({kVelarion, "--test-mail", "ini:" + cfg, "ope:AB"}, env());
    }
    void message(const std::string& base, const std::string& option) const {
        AgentSite::message(base, "luigi@example.it", option, kUser);
    }
    // Every file the installation wrote (logs, queue records), in one text.
    std::string all_files() const {
        std::string out;
        for (const auto& e : fs::recursive_directory_iterator(root.path()))
            if (e.is_regular_file() && e.path().parent_path().filename() != "secrets") out += read_file(e.path());
        return out;
    }
};

struct OAuthWholeProgram : ::testing::Test {
    std::unique_ptr<TokenServer> endpoint;
    std::unique_ptr<testing::SmtpServer> smtp;

    void start(const TokenOptions& o = {}) {
        endpoint = std::make_unique<TokenServer>(o);
        if (!endpoint->skip_reason().empty()) GTEST_SKIP() << endpoint->skip_reason();
        endpoint->set_refresh_token(kRefresh);
        // A server that offers nothing but XOAUTH2.
        smtp = std::make_unique<testing::SmtpServer>(
            testing::SmtpOptions{.oauth_issued = endpoint->issued_file(), .mechanisms = "XOAUTH2"});
        if (!smtp->skip_reason().empty()) GTEST_SKIP() << smtp->skip_reason();
    }
    std::string mapi() const { return "client=Thunderbird\ntransport=" + smtp->url() + "\n"; }

    // No secret in a text: client secret, refresh tokens, access tokens issued.
    void expect_no_secret(const std::string& text, const std::string& what) const {
        std::vector<std::string> secrets{kRefresh, TokenOptions{}.client_secret, endpoint->refresh_token()};
        for (const auto& line : {read_file(endpoint->issued_file())}) {
            std::size_t at = 0;
            while ((at = line.find("at-", at)) != std::string::npos) {
                secrets.push_back(line.substr(at, line.find(' ', at) - at));
                at += 3;
            }
        }
        for (const auto& s : secrets) {
            if (!s.empty()) {
                EXPECT_THAT(text, Not(HasSubstr(s))) << what;
            }
        }
    }
};

TEST_F(OAuthWholeProgram, DeliveredWithXoauth2AndTestMailSaysSo) {
    start();
    Site s(*endpoint, mapi());
    const auto t = s.test_mail();
    EXPECT_EQ(t.status, 0) << t.out << t.err;
    EXPECT_THAT(t.out, HasSubstr("transport " + smtp->url() + ": sign-on succeeded (OAuth 2.0 (XOAUTH2))"));
    EXPECT_THAT(t.out, HasSubstr(": sign-on succeeded"));
    EXPECT_TRUE(smtp->messages().empty());

    s.message("AB.1", "SEND");
    const auto r = s.once();
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(smtp->messages(1).size(), 1u) << r.out;
    EXPECT_EQ(s.waiting(), 0);
    EXPECT_THAT(smtp->logins(), HasSubstr("XOAUTH2 " + kUser));
    expect_no_secret(r.out + r.err + t.out + t.err + s.all_files(), "outputs and files");
}

TEST_F(OAuthWholeProgram, RevokedRefreshTokenKeepsTheMessageUntilTheFileIsRenewed) {
    start();
    endpoint->set_refresh_token("rt-renewed-1234");
    Site s(*endpoint, mapi());
    const auto t = s.test_mail();
    EXPECT_EQ(t.status, 1);
    EXPECT_THAT(t.err, HasSubstr("the refresh token must be renewed"));

    s.message("AB.2", "SEND");
    auto r = s.once();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("the refresh token must be renewed"));
    EXPECT_EQ(s.waiting(), 1);
    EXPECT_TRUE(smtp->messages().empty());
    expect_no_secret(r.out + r.err + s.all_files(), "after the refusal");

    Site::write_secret(s.refresh_file, "rt-renewed-1234");
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    r = s.once();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(smtp->messages(1).size(), 1u) << r.out;
    EXPECT_EQ(s.waiting(), 0);
}

TEST_F(OAuthWholeProgram, EndpointDownKeepsTheMessageThenDelivers) {
    start();
    Site s(*endpoint, mapi());
    endpoint->down();
    s.message("AB.3", "SEND");
    auto r = s.once();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("unreachable"));
    EXPECT_EQ(s.waiting(), 1);
    endpoint->up();
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    r = s.once();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(smtp->messages(1).size(), 1u) << r.out;
    EXPECT_EQ(s.waiting(), 0);
}

TEST_F(OAuthWholeProgram, AnEndlessAnswerIsAnEndpointFailingAndTheMessageWaits) {
    start();
    Site s(*endpoint, mapi());
    endpoint->set_padding(8 << 20);  // 8 MB of answer, read no further than 64 KB
    s.message("AB.5", "SEND");
    auto r = s.once();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("answered more than 64 KB"));
    EXPECT_EQ(s.waiting(), 1) << r.out;  // kept for a later try, not parked
    EXPECT_TRUE(s.parked().empty()) << r.out;
    EXPECT_TRUE(smtp->messages().empty());
    endpoint->set_padding(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    r = s.once();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(smtp->messages(1).size(), 1u) << r.out;
    EXPECT_EQ(s.waiting(), 0);
}

TEST_F(OAuthWholeProgram, AFileOthersCanReadIsRefused) {
    start();
    Site s(*endpoint, mapi());
    chmod(s.refresh_file.c_str(), 0644);
    const auto t = s.test_mail();
    EXPECT_EQ(t.status, 1);
    EXPECT_THAT(t.err, HasSubstr("can be read by others: refused"));
    EXPECT_EQ(endpoint->requests(), "");
    expect_no_secret(t.out + t.err, "test-mail");
}

// A running agent keeps its token; when the server refuses it (here it dies
// after a second although the endpoint said an hour) a fresh one is fetched
// and the message goes.
TEST_F(OAuthWholeProgram, ARunningAgentReplacesATokenTheServerRefuses) {
    start(TokenOptions{.lifetime = 1});
    Site s(*endpoint, mapi());
    s.message("AB.5", "SEND");
    testing::BackgroundProcess agent({kVelarion, "--headless", "ini:" + s.cfg, "ope:AB"}, s.env());
    ASSERT_TRUE(agent.started());
    ASSERT_TRUE(testing::eventually([&] { return smtp->messages().size() == 1; }, 10000)) << agent.out();
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    s.message("AB.6", "SEND");
    ASSERT_TRUE(testing::eventually([&] { return smtp->messages().size() == 2; }, 10000)) << agent.out();
    EXPECT_EQ(endpoint->requests(), "refresh_token\nrefresh_token\n");
    agent.signal(SIGTERM);
    agent.wait();
    EXPECT_THAT(agent.out(), Not(HasSubstr("Accesso Fallito")));
}

// A running agent: no secret on its command line or in its environment.
TEST_F(OAuthWholeProgram, NoSecretInTheCommandLineOrEnvironment) {
    start();
    Site s(*endpoint, mapi());
    s.message("AB.4", "SEND");
    testing::BackgroundProcess agent({kVelarion, "--headless", "ini:" + s.cfg, "ope:AB"}, s.env());
    ASSERT_TRUE(agent.started());
    ASSERT_TRUE(testing::eventually([&] { return smtp->messages().size() == 1; }, 10000)) << agent.out();
    const std::string proc = "/proc/" + std::to_string(agent.pid());
    expect_no_secret(read_file(proc + "/cmdline") + read_file(proc + "/environ"), "/proc");
    agent.signal(SIGTERM);
    agent.wait();
    expect_no_secret(agent.out() + agent.err() + s.all_files(), "agent outputs");
}

}  // namespace
}  // namespace velarion
