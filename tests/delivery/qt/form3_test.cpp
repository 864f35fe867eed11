// Form3 on the offscreen platform: the departments of lstElenco, a request
// sent through the configured transport to a real SMTP server (which keeps
// it in a maildir), its " Inviato a " line, and the exit button.
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include "delivery/qt/form3.h"
#include "support/mail_servers.h"
#include "support/test_support.h"

using namespace velarion;

namespace {
struct Install {
    testing::TempDir dir;
    testing::TestContext t;
    explicit Install(const std::string& ini) {
        testing::write_file(dir / "velarion.ini", ini);
        t.cfg.sw.ini = dir.path();
        t.cfg.host.documents_dir = dir / "docs";
        t.cfg.op.EMailAddr = "ufficio@velarion.example";
        testing::load_ini_keys(t.cfg);
    }
};
}  // namespace

class Form3Test : public QObject {
    Q_OBJECT
private slots:
    void sendsTheRequestToTheChosenDepartments() {
        testing::SmtpServer server;
        if (!server.skip_reason().empty()) QSKIP(server.skip_reason().c_str());
        Install in("[MAPI]\nclient=Thunderbird\ntransport=" + server.url() +
                   "\n[ASSISTENZA]\nreparto2=sviluppo\ndominio=@desk.example.it\n");
        qt::Form3 d(in.t.rt);
        d.show();
        QCOMPARE(d.windowTitle(), QStringLiteral("Richiesta assistenza"));
        QCOMPARE(d.lstElenco->count(), 4);
        QCOMPARE(d.lstElenco->item(1)->text(), QStringLiteral("sviluppo"));
        QCOMPARE(d.lstElenco->selectionMode(), QAbstractItemView::MultiSelection);
        QTest::mouseClick(d.lstElenco->viewport(), Qt::LeftButton, {},
                          d.lstElenco->visualItemRect(d.lstElenco->item(1)).center());
        QTest::mouseClick(d.lstElenco->viewport(), Qt::LeftButton, {},
                          d.lstElenco->visualItemRect(d.lstElenco->item(2)).center());
        QTest::keyClicks(d.txtobj, QStringLiteral("Stampa bloccata"));
        QTest::keyClicks(d.txtbody, QStringLiteral("La fattura non si stampa. "));
        d.txtbody->insertPlainText(QString::fromUtf8("Città"));
        if (!qEnvironmentVariableIsEmpty("VELARION_SHOTS"))
            d.grab().save(qEnvironmentVariable("VELARION_SHOTS") + "/dialog_assistenza.png");
        QTest::mouseClick(d.cmdinvia, Qt::LeftButton);
        QVERIFY(!d.isVisible());
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QCOMPARE(in.t.list.size(), std::size_t(1));
        QCOMPARE(QString::fromStdString(in.t.list.lines()[0]),
                 QStringLiteral("07/12/2026 10:30:00 Inviato a sviluppo@desk.example.it;commerciale@desk.example.it"
                                " - 10:30:00"));
        const auto got = server.messages(1);
        QCOMPARE(got.size(), std::size_t(1));
        const std::string m = testing::describe_mime(got[0]);
        QVERIFY2(m.find("subject: Stampa bloccata\n") != std::string::npos, m.c_str());
        QVERIFY2(m.find("sviluppo@desk.example.it") != std::string::npos, m.c_str());
        QVERIFY2(m.find("commerciale@desk.example.it") != std::string::npos, m.c_str());
        QVERIFY2(m.find("assistenza@") == std::string::npos, m.c_str());
        QVERIFY2(m.find("Citt\u00e0") != std::string::npos, m.c_str());
    }

    void exitSendsNothing() {
        Install in("[MAPI]\ntransport=smtp://127.0.0.1:1\n");
        qt::Form3 d(in.t.rt);
        d.show();
        QTest::mouseClick(d.cmdEsci, Qt::LeftButton);
        QVERIFY(!d.isVisible());
        QCOMPARE(in.t.list.size(), std::size_t(0));
    }
};

QTEST_MAIN(Form3Test)
#include "form3_test.moc"
