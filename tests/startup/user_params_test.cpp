#include "startup/user_params.h"

#include <gtest/gtest.h>

#include "common/config_store.h"
#include "platform/os/ini_file.h"
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
    const OperatorKeys& op = t.cfg.op;
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

// The loader makes each key into its value once and names every key it
// cannot use with the file, the line and the key, as written there.
TEST(LeggiParamUtenti, TypedValuesAndEachBadKeyWithItsLine) {
    TempDir dir;
    write_file(dir / "velarion.ini",
               "[AB]\nPath=/spool\nsend_dir=C:\\salvati\ntipoinvio=SEMPRE FAX\nChiaveRegistry=ALTRO\n"
               "[CDO]\nsmtpserver=mail.example.it\nsmtport=25x\n"
               "[GLOBAL]\nretry_delays=1,5,0\nretry_limit=domani\nretention_days=-3\n"
               "controllo_dimensione=30s\nUMASK=9z\nmetriche= /var/lib/velarion.prom \n");
    TestContext t;
    t.cfg.sw.ini = dir.path();
    t.cfg.sw.ope = "AB";
    Leggi_Param_Utenti(t.agent);
    const Settings& s = t.cfg;
    const std::string ini = dir / "velarion.ini";
    std::vector<std::string> got;
    for (const auto& p : s.problems) got.push_back(p.message());
    EXPECT_EQ(got, (std::vector<std::string>{
                       ini + ":4 [AB] tipoinvio: 'SEMPRE FAX' is not PER MESSAGGIO, SEMPRE SEND or SEMPRE SAVE (read "
                             "as PER MESSAGGIO)",
                       ini + ":5 [AB] ChiaveRegistry: 'ALTRO' is not DA PROGRAMMA, CURRENT USER or LOCAL MACHINE "
                             "(read as LOCAL MACHINE)",
                       ini + ":8 [CDO] smtport: '25x' is not a port from 1 to 65535 (sending through the SMTP "
                             "component fails)",
                       ini + ":10 [GLOBAL] retry_delays: '0' is not a duration above 0 such as 90 (minutes), 30s, 15m "
                             "or 24h (the default waits are used)",
                       ini + ":11 [GLOBAL] retry_limit: 'domani' is not a duration such as 90 (minutes), 30s, 15m or 24h "
                             "(24h is used)",
                       ini + ":12 [GLOBAL] retention_days: '-3' is not a whole number of days (7 are used)",
                       ini + ":14 [GLOBAL] UMASK: '9z' is not an octal mode (0077 is used)",
                   }));
    // Each bad key keeps its default; the good ones are values.
    EXPECT_EQ(s.retry.delays, (std::vector<long long>{60, 300, 900, 3600}));
    EXPECT_EQ(s.retry.limit, 24 * 3600);
    EXPECT_EQ(s.retry.retention_days, 7);
    EXPECT_EQ(s.size_check_limit, 30);
    EXPECT_EQ(s.file_umask, 077u);
    EXPECT_EQ(s.metrics_file, std::optional<std::string>("/var/lib/velarion.prom"));
    EXPECT_EQ(s.delivery_mode, DeliveryMode::per_message);
    EXPECT_EQ(s.mail_client_key, MailClientKey::local_machine);
    EXPECT_FALSE(s.smtp.port.number);
    EXPECT_EQ(s.smtp.port.setting(), "25x");  // sending names it, as before
    EXPECT_EQ(s.save_dir, "C:/salvati/");
    EXPECT_TRUE(s.has_spool);
    EXPECT_FALSE(s.has_work);

    // Good values, and keys left out: no problem, no metrics file, no port.
    write_file(dir / "velarion.ini",
               "[AB]\ntipoinvio=sempre send\nChiaveRegistry=CURRENT USER\n[CDO]\nsmtport= 2525 \n"
               "[GLOBAL]\nretry_delays=2s,1h\nretry_limit=90\numask=027\n");
    Leggi_Param_Utenti(t.agent);
    EXPECT_TRUE(s.problems.empty()) << s.problems.front().message();
    EXPECT_EQ(s.smtp.port.number, std::optional<int>(2525));
    EXPECT_EQ(s.retry.delays, (std::vector<long long>{2, 3600}));
    EXPECT_EQ(s.retry.limit, 90 * 60);
    EXPECT_EQ(s.file_umask, 027u);
    EXPECT_FALSE(s.metrics_file);
    EXPECT_EQ(s.delivery_mode, DeliveryMode::always_send);
    EXPECT_EQ(s.mail_client_key, MailClientKey::current_user);
    EXPECT_EQ(s.save_dir, "");

    // What is named is what the agent does: a size check of 0 waits the
    // default 2 minutes (named), a long number of days is used (not named).
    write_file(dir / "velarion.ini", "[GLOBAL]\ncontrollo_dimensione=0\nretention_days=1234567\n");
    Leggi_Param_Utenti(t.agent);
    ASSERT_EQ(s.problems.size(), 1u);
    EXPECT_EQ(s.problems[0].line, 2);
    EXPECT_EQ(s.size_check_limit, 120);
    EXPECT_EQ(s.retry.retention_days, 1234567);
}

// The mail sections, "Timing", "fax_gateway" and "smtp_attesa_dati" are
// values made by the same one read: each bad key named once with its line,
// keeping the default the senders and the load step go by.
TEST(LeggiParamUtenti, MailKeysTypedAndEachBadKeyWithItsLine) {
    TempDir dir;
    write_file(dir / "velarion.ini",
               "[GLOBAL]\nTiming=abc\nfax_gateway= \nsmtp_attesa_dati=0\n"
               "[CDO]\ntimeout=trenta\n"
               "[TLS]\nin_chiaro=si\nca_extra= /etc/ca.pem \nindirizzi_locali= 127.0.0.1 ;;::1\n"
               "[MAPI]\nclient=Thunderbird\nsenza_ricevuta= Archivio@Example.it \n"
               "[OAUTH2]\ntoken_url= https://login.example.com/token \nrefresh_token_file=/var/lib/rt\n"
               "[ASSISTENZA]\nreparto2=help\ndominio=desk.example.it\n");
    TestContext t;
    t.cfg.sw.ini = dir.path();
    t.cfg.sw.ope = "AB";
    const std::string ini = dir / "velarion.ini";
    const int reads = ini::times_read(ini);
    Leggi_Param_Utenti(t.agent);
    EXPECT_EQ(ini::times_read(ini), reads + 1);  // one read for every section
    const Settings& s = t.cfg;
    std::vector<std::string> got;
    for (const auto& p : s.problems) got.push_back(p.message());
    EXPECT_EQ(got, (std::vector<std::string>{
                       ini + ":2 [GLOBAL] Timing: 'abc' is not a whole number of milliseconds above 0 (the agent "
                             "cannot start)",
                       ini + ":4 [GLOBAL] smtp_attesa_dati: '0' is not a whole number of seconds from 1 to 86400 (600 "
                             "are used)",
                       ini + ":6 [CDO] timeout: 'trenta' is not a whole number of seconds from 1 to 60 (30 are used)",
                       ini + ":8 [TLS] in_chiaro: 'si' is not Y or N (read as N)",
                   }));
    EXPECT_FALSE(s.timer_interval);
    EXPECT_EQ(s.timing_error, "Tipo non corrispondente (GLOBAL Timing=\"abc\")");
    EXPECT_EQ(s.fax_gateway, "fax");
    EXPECT_EQ(s.smtp_data_wait, 600);
    EXPECT_EQ(s.smtp_timeout, 30);
    EXPECT_FALSE(s.tls.allow_plain);
    EXPECT_EQ(s.tls.extra_ca, "/etc/ca.pem");
    EXPECT_EQ(s.tls.local_addresses, (std::vector<std::string>{"127.0.0.1", "::1"}));
    EXPECT_EQ(s.mapi.client, "Thunderbird");
    EXPECT_EQ(s.mapi.store, "");  // the maildir store in the documents folder
    EXPECT_EQ(s.mapi.drafts, "Drafts");
    EXPECT_EQ(s.mapi.transport, "sendmail://localhost");
    EXPECT_EQ(s.mapi.no_receipt, "archivio@example.it");
    EXPECT_TRUE(s.oauth.enabled());
    EXPECT_EQ(s.oauth.token_url, "https://login.example.com/token");
    EXPECT_EQ(s.oauth.refresh_token_file, "/var/lib/rt");
    EXPECT_EQ(s.support_departments,
              (std::array<std::string, 4>{"assistenza", "help", "commerciale", "amministrazione"}));
    EXPECT_EQ(s.support_domain, "@desk.example.it");

    // Good values: no problem; a timeout above 60 counts as 60, as documented.
    write_file(ini, "[GLOBAL]\nTiming= 250 \nfax_gateway=gw.example.it\nsmtp_attesa_dati=86400\n"
                    "[CDO]\ntimeout=90\n[TLS]\nin_chiaro=y\n");
    Leggi_Param_Utenti(t.agent);
    EXPECT_TRUE(s.problems.empty()) << s.problems.front().message();
    EXPECT_EQ(s.timer_interval, std::optional<int>(250));
    EXPECT_EQ(s.fax_gateway, "gw.example.it");
    EXPECT_EQ(s.smtp_data_wait, 86400);
    EXPECT_EQ(s.smtp_timeout, 60);
    EXPECT_TRUE(s.tls.allow_plain);
    EXPECT_FALSE(s.oauth.enabled());
    EXPECT_TRUE(s.tls.local_addresses.empty());  // the loopback addresses

    // Numbers out of range and a missing Timing: the defaults; a missing
    // Timing is the load step's own error, not a problem of a written key.
    write_file(ini, "[GLOBAL]\nsmtp_attesa_dati=86401\n[CDO]\ntimeout=0\n");
    Leggi_Param_Utenti(t.agent);
    ASSERT_EQ(s.problems.size(), 2u);
    EXPECT_EQ(s.problems[0].line, 2);
    EXPECT_EQ(s.problems[1].line, 4);
    EXPECT_EQ(s.smtp_data_wait, 600);
    EXPECT_EQ(s.smtp_timeout, 30);
    EXPECT_FALSE(s.timer_interval);
    EXPECT_EQ(s.timing_error, "Tipo non corrispondente (GLOBAL Timing=\"\")");
}

// velarion.ini is read once however many keys the loader takes.
TEST(LeggiParamUtenti, KeysOfAnotherFileCaseAndNoFile) {
    TempDir dir;
    TestContext t;
    t.cfg.sw.ini = dir.path();
    t.cfg.sw.ope = "AB";
    Leggi_Param_Utenti(t.agent);  // no file: every key empty, nothing wrong
    EXPECT_TRUE(t.cfg.problems.empty());
    EXPECT_FALSE(t.cfg.has_spool);
    write_file(dir / "VELARION.INI", "[ab]\nPATH=/s\n[global]\numask=8\n");
    Leggi_Param_Utenti(t.agent);
    EXPECT_EQ(t.cfg.spool_dir, "/s/");
    ASSERT_EQ(t.cfg.problems.size(), 1u);
    EXPECT_EQ(t.cfg.problems[0].message(), dir / "VELARION.INI" + ":4 [global] umask: '8' is not an octal mode (0077 is used)");
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
