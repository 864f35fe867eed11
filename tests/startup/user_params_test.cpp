#include "startup/user_params.h"

#include <gtest/gtest.h>

#include "common/config_store.h"
#include "support/test_support.h"

namespace velarion {
namespace {

using testing::TempDir;
using testing::TestContext;
using testing::write_file;

TEST(LeggiParamUtenti, ReadsEveryKeyWithoutRegardToCase) {
    TempDir dir;
    write_file(dir / "velarion.ini",
               "[ab]\npwd_operatore=p1\nLOGIN_EMAIL=l1\npwd_email=p2\nemailaddr=a@b.it\npath=/spool/\nSend_Dir=/send/\n"
               "TEMPOZIP_DIR=/w/tempozip/\ndir_loghi=/loghi/\nTipoInvio=SEMPRE SAVE\nParGenerali=NORIF\n"
               "unione_dir=/merge/\nchiaveregistry=LOCAL MACHINE\n"
               "[cdo]\nSmtpServer=mail.example.it\nusername=u\npassword=pw\nsmtport=587\nFROM=f@example.it\n");
    TestContext t;
    t.cfg.sw.ini = dir.path();
    t.cfg.sw.ope = "AB";
    t.cfg.derive();
    t.cfg.outlook_version = "2003";  // stays as it was without a token
    Leggi_Param_Utenti(t.agent);
    const OperatorSettings& op = t.cfg.op;
    EXPECT_EQ(op.pwd_Operatore, "p1");
    EXPECT_EQ(op.login_email, "l1");
    EXPECT_EQ(op.pwd_email, "p2");
    EXPECT_EQ(op.EMailAddr, "a@b.it");
    EXPECT_EQ(op.Path, "/spool/");
    EXPECT_EQ(op.send_dir, "/send/");
    EXPECT_EQ(op.tempozip_dir, "/w/tempozip/");
    EXPECT_EQ(op.Dir_Loghi, "/loghi/");
    EXPECT_EQ(op.tipoinvio, "SEMPRE SAVE");
    EXPECT_EQ(op.ParGenerali, "NORIF");
    EXPECT_EQ(op.unione_DIR, "/merge/");
    EXPECT_EQ(op.ChiaveRegistry, "LOCAL MACHINE");
    EXPECT_EQ(op.smtpserver, "mail.example.it");
    EXPECT_EQ(op.username, "u");
    EXPECT_EQ(op.password, "pw");
    EXPECT_EQ(op.smtport, "587");
    EXPECT_EQ(op.from, "f@example.it");
    EXPECT_EQ(t.cfg.outlook_version, "2003");
    EXPECT_EQ(t.list.size(), 0u);
    EXPECT_TRUE(t.view.boxes.empty());

    // An operator without a section reads empty values, and no message.
    t.cfg.sw.ope = "ZZ";
    t.cfg.derive();
    Leggi_Param_Utenti(t.agent);
    EXPECT_EQ(t.cfg.op.tempozip_dir, "");
    EXPECT_EQ(t.cfg.op.smtpserver, "mail.example.it");
}

TEST(LeggiParamUtenti, OutlookTokenAndItsLine) {
    TempDir dir;
    write_file(dir / "velarion.ini", "[AB]\nParGenerali=NORIF OUTLOOK 2010 PREPARA:/x;\n");
    TestContext t;
    t.cfg.sw.ini = dir.path();
    t.cfg.sw.ope = "AB";
    t.cfg.sw.debug_traces = true;
    t.cfg.derive();
    Leggi_Param_Utenti(t.agent);
    EXPECT_EQ(t.cfg.outlook_version, "2010");
    ASSERT_EQ(t.list.size(), 1u);
    EXPECT_EQ(t.list.lines()[0], "07/12/2026 10:30:00 Outlook versione  2010");
    ASSERT_EQ(t.view.boxes.size(), 1u);
    EXPECT_EQ(t.view.boxes[0], "SONO NELLA Leggi_Param_Utenti");
}

TEST(OutlookVersion, PositionRules) {
    EXPECT_EQ(outlook_version_of("OUTLOOK 2013"), "2013");
    EXPECT_EQ(outlook_version_of("NORIF;OUTLOOK:2007;X"), "2007");
    EXPECT_EQ(outlook_version_of("NORIF"), "");
    // Lower case: detected, but read from characters 8 to 11 of the text.
    EXPECT_EQ(outlook_version_of("outlook 2007"), " 200");
    EXPECT_EQ(outlook_version_of("xx outlook 2007"), "ook ");
    // The token at the end of the text: what is there.
    EXPECT_EQ(outlook_version_of("A OUTLOOK"), "");
    EXPECT_EQ(outlook_version_of("OUTLOOK 20"), "20");
}

TEST(ConfigStore, FailedWriteAddsItsLineAndClearsALongList) {
    TempDir dir;
    TestContext t;
    t.cfg.sw.ini = dir / "missing/folder";
    t.cfg.derive();
    for (int i = 0; i < 601; ++i) t.list.add(" riga");
    write_config(t.rt, "AB", std::string("Path"), std::string("/x"));
    ASSERT_EQ(t.list.size(), 1u);
    EXPECT_EQ(t.list.lines()[0], "07/12/2026 10:30:00 Errore in scrittura nel file " + dir / "missing/folder/velarion.ini");
    // With 600 lines or fewer the list is kept.
    write_config(t.rt, "AB", std::string("Path"), std::string("/x"));
    EXPECT_EQ(t.list.size(), 2u);
}

}  // namespace
}  // namespace velarion
