// FormCDO on the offscreen platform: the five fields, the masked password,
// the exit button rewriting the five keys, and the next send on the new port.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "delivery/sendmail.h"
#include "setup/qt/form_cdo.h"
#include "setup/setup_fixture.h"
#include "platform/os/ini_file.h"
#include "support/mail_servers.h"

using namespace velarion;
using velarion::testing::SetupInstall;

namespace {
void replace_text(QLineEdit* e, const QString& text) {
    e->setFocus();
    e->selectAll();
    QTest::keyClick(e, Qt::Key_Delete);
    QTest::keyClicks(e, text);
}
}  // namespace

class FormCdoTest : public QObject {
    Q_OBJECT
private slots:
    void exitRewritesTheFiveKeysAndTheNextSendUsesTheNewPort() {
        testing::SmtpServer server;
        if (!server.skip_reason().empty()) QSKIP(server.skip_reason().c_str());
        testing::TempDir work;
        SetupInstall in("[AB]\nPath=/spool/\ntempozip_dir=" + work / "tempozip/" + "\n[CDO]\nsmtpserver=mail.example.it\nsmtport=25\npassword=vecchia\n"
                        "username=u\nfrom=f@example.it\n");
        qt::FormCDO d(in.context());
        d.show();
        QCOMPARE(d.edit(CdoField::txt_smtpserver)->text(), QStringLiteral("mail.example.it"));
        QCOMPARE(d.edit(CdoField::txt_smtpport)->text(), QStringLiteral("25"));
        QCOMPARE(d.edit(CdoField::txt_password)->text(), QStringLiteral("vecchia"));
        QCOMPARE(d.edit(CdoField::txt_password)->echoMode(), QLineEdit::Password);
        QCOMPARE(d.edit(CdoField::txt_username)->text(), QStringLiteral("u"));
        QCOMPARE(d.edit(CdoField::txt_from)->text(), QStringLiteral("f@example.it"));
        if (!qEnvironmentVariableIsEmpty("VELARION_SHOTS"))
            d.grab().save(qEnvironmentVariable("VELARION_SHOTS") + "/dialog_cdo.png");

        replace_text(d.edit(CdoField::txt_smtpserver), QStringLiteral("127.0.0.1"));
        replace_text(d.edit(CdoField::txt_smtpport), QString::number(server.port()));
        replace_text(d.edit(CdoField::txt_password), QStringLiteral("nuova"));
        replace_text(d.edit(CdoField::txt_username), QStringLiteral("utente"));
        replace_text(d.edit(CdoField::txt_from), QStringLiteral("ufficio@example.it"));
        QTest::mouseClick(d.CmdExit, Qt::LeftButton);
        QVERIFY(!d.isVisible());
        const std::vector<std::string> expected = {"[AB]",
                                                   "Path=/spool/",
                                                   "tempozip_dir=" + work / "tempozip/",
                                                   "[CDO]",
                                                   "smtpserver=127.0.0.1",
                                                   "smtport=" + std::to_string(server.port()),
                                                   "password=nuova",
                                                   "username=utente",
                                                   "from=ufficio@example.it"};
        QVERIFY(in.ini_lines() == expected);
        QCOMPARE(in.reloads, 1);

        // With "cdo:" on, the next delivery goes to the new port.
        in.t.cfg.sw.smtp_component = true;
        Dispatcher dispatcher(in.t.rt, {});
        DeliveryRequest r;
        r.lsObj = "Porta nuova";
        r.lsNumRef = "AB0000000001";
        r.lsTo = "cliente@example.it";
        r.lsSend = "SEND";
        r.lvBody = "Testo";
        QVERIFY(dispatcher.sendmail(r));
        const auto got = server.messages(1);
        QCOMPARE(got.size(), std::size_t(1));
        QVERIFY(got[0].find("Subject: Porta nuova") != std::string::npos);
    }

    void oauthSignOnShowsItsKeysMaskedWhereSecretAndWritesThem() {
        SetupInstall in("[CDO]\nsmtpserver=smtp.gmail.com\nsmtport=587\nusername=u@example.it\n"
                        "[OAUTH2]\nclient_secret=cs-visibile\n");
        qt::FormCDO d(in.context());
        d.show();
        QCOMPARE(d.cmbSignOn->currentIndex(), 0);
        QVERIFY(!d.edit(OAuthField::txt_token_url)->isVisible());
        d.cmbSignOn->setCurrentIndex(1);
        QVERIFY(d.edit(OAuthField::txt_token_url)->isVisible());
        QCOMPARE(d.edit(OAuthField::txt_client_secret)->echoMode(), QLineEdit::Password);
        QCOMPARE(d.edit(OAuthField::txt_refresh_token)->echoMode(), QLineEdit::Password);
        QCOMPARE(d.edit(OAuthField::txt_client_id)->echoMode(), QLineEdit::Normal);
        QCOMPARE(d.edit(OAuthField::txt_client_secret)->text(), QStringLiteral("cs-visibile"));
        replace_text(d.edit(OAuthField::txt_token_url), QStringLiteral("https://oauth2.googleapis.com/token"));
        replace_text(d.edit(OAuthField::txt_scope), QStringLiteral("https://mail.google.com/"));
        QTest::mouseClick(d.CmdExit, Qt::LeftButton);
        QVERIFY(!d.isVisible());
        QCOMPARE(ini::read("OAUTH2", "token_url", "", in.ini_path()), std::string("https://oauth2.googleapis.com/token"));
        QCOMPARE(ini::read("OAUTH2", "scope", "", in.ini_path()), std::string("https://mail.google.com/"));
        QCOMPARE(ini::read("OAUTH2", "client_secret", "", in.ini_path()), std::string("cs-visibile"));
    }
};

QTEST_MAIN(FormCdoTest)
#include "form_cdo_test.moc"
