// frm_setuputente and the FormCDO it opens, on the offscreen platform: the
// fields and labels, the work-folder check, the lists that cannot be left
// with another text, the save order, the folder browser, the file manager.
#include <functional>

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QtTest>

#include "setup/qt/form_cdo.h"
#include "setup/qt/frm_setuputente.h"
#include "setup/setup_fixture.h"

using namespace velarion;
using velarion::testing::SetupInstall;

namespace {

const char* const kIni =
    "[AB]\npwd_Operatore=segreto\nlogin_email=ab\npwd_email=pw\nEMailAddr=ab@example.it\nPath=/spool/ab/\n"
    "send_dir=/send/\ntempozip_dir=/w/tempozip/\nDir_Loghi=/loghi/\ntipoinvio=SEMPRE SAVE\nParGenerali=NORIF\n"
    "unione_DIR=/merge/\nChiaveRegistry=LOCAL MACHINE\n[CDO]\nsmtpserver=127.0.0.1\nsmtport=25\n"
    "password=pw\nusername=u\nfrom=f@example.it\n[GLOBAL]\nTiming=1000\n";

QLineEdit* line(qt::frm_setuputente& d, SetupField f) { return qobject_cast<QLineEdit*>(d.control(f)); }
QComboBox* combo(qt::frm_setuputente& d, SetupField f) { return qobject_cast<QComboBox*>(d.control(f)); }

// Runs `act` on the next modal window that opens (a message box, the folder
// browser, FormCDO), once the event loop shows it.
void on_modal(std::function<void(QWidget*)> act) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        QWidget* w = QApplication::activeModalWidget();
        if (!w) return;
        timer->stop();
        timer->deleteLater();
        act(w);
    });
    timer->start();
}

void replace_text(QLineEdit* e, const QString& text) {
    e->setFocus();
    e->selectAll();
    QTest::keyClick(e, Qt::Key_Delete);
    QTest::keyClicks(e, text);
}

// Where the file manager was asked to go (QDesktopServices hands file URLs to it).
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.push_back(url); }
};

struct Dialog {
    SetupInstall in{kIni};
    qt::frm_setuputente d{in.context()};
    Dialog() {
        d.show();
        d.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&d));
    }
};

}  // namespace

class FrmSetupUtenteTest : public QObject {
    Q_OBJECT
private slots:
    void showsEveryFieldWithItsLabel() {
        Dialog t;
        qt::frm_setuputente& d = t.d;
        QCOMPARE(d.windowTitle(), QString::fromStdString("Parametri Utenti " + t.in.dir.path() + "velarion.ini"));
        const QStringList labels = {"Codice Operatore", "Password Operatore", "Login Email", "Password Email",
                                    "Indirizzo Email", "Directory files", "Directory Salvataggio",
                                    "Directory Temporanea ", "Directory Loghi", "Tipo Invio", "Parametri",
                                    "Dir file unione", "Registry"};
        for (std::size_t i = 0; i < kSetupFields.size(); ++i) {
            QCOMPARE(d.label(kSetupFields[i].field)->text(), labels[static_cast<int>(i)]);
            QCOMPARE(d.control(kSetupFields[i].field)->objectName(), QString::fromLatin1(kSetupFields[i].control));
        }
        QCOMPARE(d.label(DirLabel::lbl_Directory)->objectName(), QStringLiteral("lbl_Directory"));
        QCOMPARE(d.label(DirLabel::lbl_dir_tempozip)->text(), QStringLiteral("Directory Temporanea "));
        QCOMPARE(line(d, SetupField::txt_operatore)->text(), QStringLiteral("AB"));
        QCOMPARE(line(d, SetupField::txt_pwdoperatore)->text(), QStringLiteral("segreto"));
        QCOMPARE(line(d, SetupField::txt_pwdoperatore)->echoMode(), QLineEdit::Password);
        QCOMPARE(line(d, SetupField::txt_PwdEmail)->echoMode(), QLineEdit::Password);
        QCOMPARE(line(d, SetupField::txt_loginEmail)->echoMode(), QLineEdit::Normal);
        QCOMPARE(line(d, SetupField::txt_direc_tempozip)->text(), QStringLiteral("/w/tempozip/"));
        QCOMPARE(combo(d, SetupField::cboTipoInvio)->currentText(), QStringLiteral("SEMPRE SAVE"));
        QCOMPARE(combo(d, SetupField::cmbregmail)->currentText(), QStringLiteral("LOCAL MACHINE"));
        QStringList choices;
        for (int i = 0; i < combo(d, SetupField::cboTipoInvio)->count(); ++i)
            choices << combo(d, SetupField::cboTipoInvio)->itemText(i);
        QCOMPARE(choices, QStringList({"PER MESSAGGIO", "SEMPRE SAVE", "SEMPRE SEND"}));
        choices.clear();
        for (int i = 0; i < combo(d, SetupField::cmbregmail)->count(); ++i)
            choices << combo(d, SetupField::cmbregmail)->itemText(i);
        QCOMPARE(choices, QStringList({"LOCAL MACHINE", "CURRENT USER", "DA PROGRAMMA"}));
        QCOMPARE(d.lblApp->text(), QStringLiteral("Path Posizione Velarion.exe    /opt/velarion/"));
        QCOMPARE(d.cmdSave->text(), QStringLiteral("Salva ed esci"));
        QCOMPARE(d.CmdExit->text(), QStringLiteral("Esci senza salvare"));
        if (!qEnvironmentVariableIsEmpty("VELARION_SHOTS"))
            d.grab().save(qEnvironmentVariable("VELARION_SHOTS") + "/dialog_setuputente.png");
    }

    void workFolderNamedTempIsRefused() {
        Dialog t;
        const std::string before = t.in.ini();
        replace_text(line(t.d, SetupField::txt_direc_tempozip), QStringLiteral("/w/temp"));
        QString shown;
        on_modal([&shown](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (box) shown = box->text();
            w->close();
        });
        QTest::mouseClick(t.d.cmdSave, Qt::LeftButton);
        QCOMPARE(shown, QStringLiteral("la directory temporanea per i file deve terminare con TEMPOZIP"));
        QVERIFY(t.d.isVisible());
        QCOMPARE(t.in.ini(), before);
    }

    void listsCannotBeLeftWithAnotherText() {
        Dialog t;
        QComboBox* cbo = combo(t.d, SetupField::cboTipoInvio);
        QLineEdit* par = line(t.d, SetupField::txtpargenerali);
        cbo->setFocus();
        cbo->lineEdit()->selectAll();
        QTest::keyClicks(cbo->lineEdit(), QStringLiteral("sempre send"));
        QCOMPARE(cbo->currentText(), QStringLiteral("sempre send"));
        // Tab and a click elsewhere both come back to the list.
        QTest::keyClick(cbo, Qt::Key_Tab);
        QTRY_VERIFY(cbo->hasFocus() || cbo->lineEdit()->hasFocus());
        QTest::mouseClick(par, Qt::LeftButton);
        QTest::qWait(20);
        QTRY_VERIFY(cbo->hasFocus() || cbo->lineEdit()->hasFocus());
        // Nor does the save take it.
        const std::string before = t.in.ini();
        QTest::mouseClick(t.d.cmdSave, Qt::LeftButton);
        QVERIFY(t.d.isVisible());
        QCOMPARE(t.in.ini(), before);
        QTRY_VERIFY(cbo->hasFocus() || cbo->lineEdit()->hasFocus());
        // One of the exact choices lets the focus go.
        cbo->lineEdit()->selectAll();
        QTest::keyClicks(cbo->lineEdit(), QStringLiteral("SEMPRE SEND"));
        QTest::mouseClick(par, Qt::LeftButton);
        QTest::qWait(20);
        QVERIFY(par->hasFocus());

        QComboBox* reg = combo(t.d, SetupField::cmbregmail);
        reg->setFocus();
        reg->lineEdit()->selectAll();
        QTest::keyClicks(reg->lineEdit(), QStringLiteral("local machine"));
        QTest::mouseClick(par, Qt::LeftButton);
        QTRY_VERIFY(reg->hasFocus() || reg->lineEdit()->hasFocus());
    }

    void saveWritesTheKeysInOrder() {
        SetupInstall in("[GLOBAL]\nTiming=1000\n");
        qt::frm_setuputente d(in.context());
        d.show();
        replace_text(line(d, SetupField::txt_pwdoperatore), QStringLiteral("p1"));
        replace_text(line(d, SetupField::txt_loginEmail), QStringLiteral("l1"));
        replace_text(line(d, SetupField::txt_PwdEmail), QStringLiteral("p2"));
        replace_text(line(d, SetupField::txt_email_addr), QStringLiteral("ab@example.it"));
        replace_text(line(d, SetupField::txt_direc_files), QStringLiteral("/spool/ab/"));
        replace_text(line(d, SetupField::txt_direc_backup), QStringLiteral("/send/"));
        replace_text(line(d, SetupField::txt_direc_tempozip), QStringLiteral("/w/TEMPOZIP"));
        replace_text(line(d, SetupField::txt_direc_loghi), QStringLiteral("/loghi/"));
        combo(d, SetupField::cboTipoInvio)->setCurrentIndex(2);
        replace_text(line(d, SetupField::txtpargenerali), QStringLiteral("NORIF"));
        replace_text(line(d, SetupField::txt_direc_unione), QStringLiteral("/merge/"));
        combo(d, SetupField::cmbregmail)->setCurrentIndex(1);
        QTest::mouseClick(d.cmdSave, Qt::LeftButton);
        QVERIFY(!d.isVisible());
        const std::vector<std::string> expected = {
            "[GLOBAL]", "Timing=1000", "[AB]", "pwd_Operatore=p1", "login_email=l1", "pwd_email=p2",
            "EMailAddr=ab@example.it", "Path=/spool/ab/", "send_dir=/send/", "tempozip_dir=/w/TEMPOZIP",
            "Dir_Loghi=/loghi/", "TipoInvio=SEMPRE SEND", "ParGenerali=NORIF", "unione_dir=/merge/",
            "ChiaveRegistry=CURRENT USER"};
        QVERIFY(in.ini_lines() == expected);
        QCOMPARE(in.reloads, 1);
        QCOMPARE(QString::fromStdString(in.t.cfg.work_dir), QStringLiteral("/w/TEMPOZIP/"));
    }

    void exitWritesNothing() {
        Dialog t;
        const std::string before = t.in.ini();
        replace_text(line(t.d, SetupField::txt_pwdoperatore), QStringLiteral("altra"));
        QTest::mouseClick(t.d.CmdExit, Qt::LeftButton);
        QVERIFY(!t.d.isVisible());
        QCOMPARE(t.in.ini(), before);
    }

    void folderBrowserWithRedLabel() {
        Dialog t;
        testing::TempDir chosen;
        QLineEdit* tz = line(t.d, SetupField::txt_direc_tempozip);
        QLabel* label = t.d.label(DirLabel::lbl_dir_tempozip);
        const QColor normal = label->palette().color(QPalette::WindowText);
        QString title;
        QColor while_open;
        // Cancelled: the field stays.
        on_modal([&](QWidget* w) {
            title = w->windowTitle();
            while_open = label->palette().color(QPalette::WindowText);
            qobject_cast<QDialog*>(w)->reject();
        });
        QTest::mouseDClick(tz, Qt::LeftButton);
        QCOMPARE(title, QStringLiteral("Directory per copiare i files da elaborare"));
        QCOMPARE(while_open, QColor(255, 0, 0));
        QCOMPARE(label->palette().color(QPalette::WindowText),
                 QApplication::palette().color(QPalette::ButtonText));
        QCOMPARE(tz->text(), QStringLiteral("/w/tempozip/"));
        Q_UNUSED(normal);
        // Chosen: the field takes the folder.
        const QString folder = QString::fromStdString(chosen.path()).chopped(1);
        on_modal([&](QWidget* w) {
            title = w->windowTitle();
            auto* fd = qobject_cast<QFileDialog*>(w);
            QVERIFY(fd);
            // The dialog lists folders on a thread of its own, so a selection in
            // its view depends on timing; the file name field does not.
            fd->setDirectory(QFileInfo(folder).absolutePath());
            auto* name = fd->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QVERIFY(name);
            name->setText(folder);
            QMetaObject::invokeMethod(fd, "accept");
        });
        QTest::mouseDClick(line(t.d, SetupField::txt_direc_files), Qt::LeftButton);
        QCOMPARE(title, QStringLiteral("Directory posizione posta"));
        QCOMPARE(line(t.d, SetupField::txt_direc_files)->text(), folder);
    }

    void fileManagerOnTheLabelsFolder() {
        Dialog t;
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
        replace_text(line(t.d, SetupField::txt_direc_loghi), QStringLiteral("C:\\loghi\\ab\\"));
        QTest::mouseDClick(t.d.label(DirLabel::lbl_dir_tempozip), Qt::LeftButton);
        QTest::mouseDClick(t.d.label(DirLabel::lbl_dir_loghi), Qt::LeftButton);
        QTest::mouseDClick(t.d.label(DirLabel::lbl_Directory), Qt::LeftButton);
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(catcher.urls, QList<QUrl>({QUrl::fromLocalFile("/w/tempozip/"), QUrl::fromLocalFile("C:/loghi/ab/"),
                                            QUrl::fromLocalFile("/spool/ab/")}));
    }

    void cdoButtonOpensFormCDO() {
        Dialog t;
        QString port;
        on_modal([&](QWidget* w) {
            auto* cdo = qobject_cast<qt::FormCDO*>(w);
            QVERIFY(cdo);
            port = cdo->edit(CdoField::txt_smtpport)->text();
            replace_text(cdo->edit(CdoField::txt_smtpport), QStringLiteral("2525"));
            QTest::mouseClick(cdo->CmdExit, Qt::LeftButton);
        });
        QTest::mouseClick(t.d.cmdcdo, Qt::LeftButton);
        QCOMPARE(port, QStringLiteral("25"));
        QCOMPARE(QString::fromStdString(t.in.t.cfg.op.smtport), QStringLiteral("2525"));
        QVERIFY(t.d.isVisible());
    }
};

QTEST_MAIN(FrmSetupUtenteTest)
#include "frm_setuputente_test.moc"
