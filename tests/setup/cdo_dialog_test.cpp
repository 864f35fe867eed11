#include "setup/cdo_dialog.h"

#include <map>

#include <gtest/gtest.h>

#include "delivery/sendmail.h"
#include "setup_fixture.h"
#include "support/mail_servers.h"

namespace velarion {
namespace {

using testing::SetupInstall;

struct ScriptedCdoView : CdoView {
    std::map<CdoField, std::string> fields;
    bool closed = false;
    void set_field(CdoField f, const std::string& t) override { fields[f] = t; }
    std::string field(CdoField f) const override {
        auto it = fields.find(f);
        return it == fields.end() ? "" : it->second;
    }
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
