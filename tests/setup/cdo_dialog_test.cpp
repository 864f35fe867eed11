#include "setup/cdo_dialog.h"

#include <map>

#include <gtest/gtest.h>

#include "delivery/sendmail.h"
#include "setup_fixture.h"
#include "platform/os/ini_file.h"
#include "support/mail_servers.h"

namespace velarion {
namespace {

using testing::SetupInstall;

struct ScriptedCdoView : CdoView {
    std::map<CdoField, std::string> fields;
    std::map<OAuthField, std::string> oauth;
    SignOnMethod method = SignOnMethod::password;
    bool oauth_shown = false;
    bool closed = false;
    void set_field(CdoField f, const std::string& t) override { fields[f] = t; }
    std::string field(CdoField f) const override {
        auto it = fields.find(f);
        return it == fields.end() ? "" : it->second;
    }
    void set_oauth_field(OAuthField f, const std::string& t) override { oauth[f] = t; }
    std::string oauth_field(OAuthField f) const override {
        auto it = oauth.find(f);
        return it == oauth.end() ? "" : it->second;
    }
    void set_sign_on(SignOnMethod m) override { method = m; }
    SignOnMethod sign_on() const override { return method; }
    void show_oauth_fields(bool shown) override { oauth_shown = shown; }
    void close_dialog() override { closed = true; }
};

TEST(FormCDO, OpeningShowsTheLoadedValues) {
    SetupInstall in("[CDO]\nsmtpserver=mail.example.it\nusername=u\npassword=pw\nsmtport=587\nfrom=f@example.it\n");
    ScriptedCdoView v;
    FormCDOLogic logic(in.context(), v);
    logic.Form_Load();
    EXPECT_EQ(v.fields[CdoField::txt_smtpserver], "mail.example.it");
    EXPECT_EQ(v.fields[CdoField::txt_smtpport], "587");
    EXPECT_EQ(v.fields[CdoField::txt_password], "pw");
    EXPECT_EQ(v.fields[CdoField::txt_username], "u");
    EXPECT_EQ(v.fields[CdoField::txt_from], "f@example.it");
    EXPECT_FALSE(v.closed);
}

TEST(FormCDO, ExitWritesTheFiveKeysInOrderAndReReads) {
    SetupInstall in("[AB]\nPath=/spool/\n");
    ScriptedCdoView v;
    FormCDOLogic logic(in.context(), v);
    logic.Form_Load();
    v.fields[CdoField::txt_smtpserver] = "smtp.example.it";
    v.fields[CdoField::txt_smtpport] = "";  // an empty port is written empty
    v.fields[CdoField::txt_password] = "segreta";
    v.fields[CdoField::txt_username] = "utente";
    v.fields[CdoField::txt_from] = "ufficio@example.it";
    logic.CmdExit_Click();
    EXPECT_TRUE(v.closed);
    EXPECT_EQ(in.ini_lines(),
              (std::vector<std::string>{"[AB]", "Path=/spool/", "[CDO]", "smtpserver=smtp.example.it", "smtport=",
                                        "password=segreta", "username=utente", "from=ufficio@example.it"}));
    EXPECT_EQ(in.reloads, 1);
    EXPECT_EQ(in.t.cfg.op.smtpserver, "smtp.example.it");
    EXPECT_EQ(in.t.cfg.op.password, "segreta");
    EXPECT_EQ(in.t.cfg.op.from, "ufficio@example.it");
}

TEST(FormCDO, ExitWithoutEditsRewritesTheKeysInPlace) {
    const std::string ini = "[CDO]\nfrom=f@example.it\nsmtport=25\nSmtpServer=mail.example.it\nusername=u\npassword=pw\n";
    SetupInstall in(ini);
    const auto before = in.ini_lines();
    ScriptedCdoView v;
    FormCDOLogic logic(in.context(), v);
    logic.Form_Load();
    logic.CmdExit_Click();
    EXPECT_EQ(in.ini_lines(), before);
    EXPECT_EQ(in.reloads, 1);
}

// The sign-on method follows "token_url"; choosing OAuth writes the keys of
// section "OAUTH2", going back to the password empties the token URL alone.
TEST(FormCDO, SignOnMethodShowsAndWritesTheOAuthKeys) {
    SetupInstall in("[CDO]\nsmtpserver=smtp.office365.com\nsmtport=587\nusername=u@example.it\n");
    ScriptedCdoView v;
    FormCDOLogic logic(in.context(), v);
    logic.Form_Load();
    EXPECT_EQ(v.method, SignOnMethod::password);
    EXPECT_FALSE(v.oauth_shown);
    v.method = SignOnMethod::oauth;
    logic.SignOn_Change();
    EXPECT_TRUE(v.oauth_shown);
    v.oauth[OAuthField::txt_token_url] = "https://login.microsoftonline.com/t/oauth2/v2.0/token";
    v.oauth[OAuthField::txt_client_id] = "cid";
    v.oauth[OAuthField::txt_refresh_token_file] = "/var/lib/velarion/rt";
    v.oauth[OAuthField::txt_scope] = "https://outlook.office365.com/SMTP.Send offline_access";
    logic.CmdExit_Click();
    EXPECT_EQ(ini::read("OAUTH2", "token_url", "", in.ini_path()), "https://login.microsoftonline.com/t/oauth2/v2.0/token");
    EXPECT_EQ(ini::read("OAUTH2", "refresh_token_file", "", in.ini_path()), "/var/lib/velarion/rt");
    EXPECT_EQ(ini::read("OAUTH2", "scope", "", in.ini_path()), "https://outlook.office365.com/SMTP.Send offline_access");
    // The settings were loaded again after the save: the next send signs on with OAuth.
    EXPECT_EQ(in.t.cfg.oauth.token_url, "https://login.microsoftonline.com/t/oauth2/v2.0/token");
    EXPECT_EQ(in.t.cfg.oauth.refresh_token_file, "/var/lib/velarion/rt");

    ScriptedCdoView again;
    FormCDOLogic reopened(in.context(), again);
    reopened.Form_Load();
    EXPECT_EQ(again.method, SignOnMethod::oauth);
    EXPECT_TRUE(again.oauth_shown);
    EXPECT_EQ(again.oauth[OAuthField::txt_client_id], "cid");
    again.method = SignOnMethod::password;
    reopened.CmdExit_Click();
    EXPECT_EQ(ini::read("OAUTH2", "token_url", "", in.ini_path()), "");
    EXPECT_EQ(ini::read("OAUTH2", "client_id", "", in.ini_path()), "cid");
    EXPECT_FALSE(in.t.cfg.oauth.enabled());
}

TEST(FormCDO, SecretOAuthKeysAreMasked) {
    for (const auto& info : kOAuthFields) {
        const std::string key = info.key;
        EXPECT_EQ(info.masked, key == "client_secret" || key == "refresh_token") << key;
    }
}

// The next delivery takes the port that the dialog wrote: with "cdo:" on,
// a message that found nobody on the old port reaches the SMTP server on
// the new one.
TEST(FormCDO, TheNextDeliveryUsesTheNewPort) {
    testing::SmtpServer server;
    if (!server.skip_reason().empty()) GTEST_SKIP() << server.skip_reason();
    testing::TempDir work;
    SetupInstall in("[AB]\ntempozip_dir=" + work / "tempozip/" +
                    "\n[CDO]\nsmtpserver=127.0.0.1\nsmtport=1\nfrom=ufficio@example.it\n");
    in.t.cfg.sw.smtp_component = true;
    Dispatcher dispatcher(in.t.rt, {});
    DeliveryRequest r;
    r.lsObj = "Prova porta";
    r.lsNumRef = "AB0000000001";
    r.lsTo = "cliente@example.it";
    r.lsSend = "SEND";
    r.lvBody = "Testo";
    EXPECT_FALSE(dispatcher.sendmail(r));  // port 1: nobody there

    ScriptedCdoView v;
    FormCDOLogic logic(in.context(), v);
    logic.Form_Load();
    EXPECT_EQ(v.fields[CdoField::txt_smtpport], "1");
    v.fields[CdoField::txt_smtpport] = std::to_string(server.port());
    logic.CmdExit_Click();
    ASSERT_EQ(in.t.cfg.op.smtport, std::to_string(server.port()));

    in.t.list.clear();
    ASSERT_TRUE(dispatcher.sendmail(r)) << ::testing::PrintToString(in.t.list.lines());
    const auto got = server.messages(1);
    ASSERT_EQ(got.size(), 1u);
    const std::string d = testing::describe_mime(got[0]);
    EXPECT_NE(d.find("subject: Prova porta\n"), std::string::npos) << d;
    EXPECT_NE(d.find("from: ufficio@example.it\n"), std::string::npos) << d;
}

}  // namespace
}  // namespace velarion
