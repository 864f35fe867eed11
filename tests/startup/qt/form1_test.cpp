// Form1 on the offscreen platform: what the load step shows, Check1, Timer1
// with a scan that lets events run, the menus, minimise and close.
#include <unistd.h>

#include <QAction>
#include <QFile>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QtTest>
#include <QDesktopServices>
#include <QUrl>

#include <filesystem>

#include "startup/agent.h"
#include "startup/command_line.h"
#include "startup/main_window.h"
#include "delivery/qt/form3.h"
#include "setup/qt/frm_setuputente.h"
#include "startup/qt/form1.h"
#include "support/fault_servers.h"
#include "support/mail_servers.h"
#include "support/test_support.h"

using namespace velarion;

namespace {
const QString kStarting =
    QStringLiteral("Inizializzazione velarion in corso ,per disattivare il dispositivo , agire sulla casella");

// A loaded window on a temporary installation (Timing 50 ms) with a scan
// that waits 150 ms letting window events run, as the size check does.
struct Fixture {
    testing::TempDir dir;
    FixedClock clock{make_datetime(2026, 12, 7, 10, 30, 0)};
    qt::Form1 form;
    Agent agent{clock, form};
    ActivityList& list = agent.list;
    int scans = 0, depth = 0, max_depth = 0;
    std::unique_ptr<Form1Logic> logic;

    explicit Fixture(const std::string& extra_args = "") {
        testing::write_file(dir / "velarion.ini", "[AB]\nPath=/spool/\ntempozip_dir=" + dir / "tempozip/" +
                                                      "\n[GLOBAL]\nTiming=50\n[MAPI]\nclient=Posta Demo\n");
        agent.settings.host.program_dir = dir / "prog/";
        agent.settings.host.documents_dir = dir / "docs";
        form.attach_list(agent.list);
        logic = std::make_unique<Form1Logic>(agent, getcommandline("ope:AB ini:" + dir.path() + " " + extra_args, 10),
                                             [this](Form1Logic&) {
                                                 ++scans;
                                                 max_depth = std::max(max_depth, ++depth);
                                                 for (int i = 0; i < 15; ++i) {
                                                     usleep(10000);
                                                     form.process_events();
                                                 }
                                                 --depth;
                                             });
        form.attach_logic(logic.get());
    }
};
// Takes the URLs QDesktopServices would hand to the desktop.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.push_back(url); }
};
}  // namespace

class Form1Test : public QObject {
    Q_OBJECT
private slots:
    void trayMenuRetriesAndOpensTheUnsentFolder() {
        Fixture f;
        const std::string spool = f.dir / "spool/", work = f.dir / "tempozip/";
        std::filesystem::create_directories(spool);
        testing::write_file(f.dir / "velarion.ini", "[AB]\nPath=" + spool + "\ntempozip_dir=" + work +
                                                        "\n[GLOBAL]\nTiming=50\n[MAPI]\nclient=Posta Demo\n");
        QCOMPARE(f.logic->load(), LoadResult::Ready);
        QCOMPARE(f.form.mPopRetry->text(), QStringLiteral("Riprova ora"));
        QCOMPARE(f.form.mPopUnsent->text(), QStringLiteral("Apri cartella non inviati"));
        // "Riprova ora" ends this agent's waits at once; the holds last until a try succeeds.
        RunState& run = f.logic->scanner().run_state();
        run.transport_hold.failures = 2;
        run.transport_hold.until_ms = 1LL << 60;
        run.store_hold.failures = 1;
        run.store_hold.until_ms = 1LL << 60;
        f.form.mPopRetry->trigger();
        QCOMPARE(run.transport_hold.until_ms, 0LL);
        QCOMPARE(run.store_hold.until_ms, 0LL);
        QVERIFY(run.transport_hold.asked && run.store_hold.asked);

        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
        // No parked message yet: nothing is opened, the list says why.
        f.form.mPopUnsent->trigger();
        QCOMPARE(catcher.urls.size(), 0);
        QVERIFY(f.form.List1->item(f.form.List1->count() - 1)->text().contains(QStringLiteral("non_inviati")));
        std::filesystem::create_directories(work + "non_inviati");
        f.form.mPopUnsent->trigger();
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(catcher.urls.size(), 1);
        QCOMPARE(catcher.urls[0].toLocalFile(), QString::fromStdString(work + "non_inviati"));
    }

    void loadShowsTheAgentState() {
        Fixture f("fax:PRO");
        QCOMPARE(f.logic->load(), LoadResult::Ready);
        QVERIFY(f.form.isVisible());
        QVERIFY(f.form.windowTitle().startsWith(QStringLiteral("Velarion Ver. 9.0.2(09/03/16)  - DLLNEW - ")));
        QCOMPARE(f.form.Label1->text(), kStarting);
        QCOMPARE(f.form.lblOPER->text(), QStringLiteral("Operatore: AB "));
        QCOMPARE(f.form.lblclientMAPI->text(), QStringLiteral("Posta Demo (Int)"));
        QVERIFY(f.form.LabelPRO->isVisible());
        QCOMPARE(f.form.LabelPRO->text(), QStringLiteral("Gestione WINFAX PRO attivata"));
        QVERIFY(!f.form.Check1->isChecked());
        QCOMPARE(f.form.Check1->text(), QStringLiteral("Disabiltazione velarion"));
        QVERIFY(f.form.Timer1->isActive());
        QCOMPARE(f.form.Timer1->interval(), 50);
        // Menus.
        QVERIFY(f.form.File_1->isEnabled());
        QCOMPARE(f.form.File_1->text(), QStringLiteral("Parametri Utente"));
        QVERIFY(f.form.mailsertu->isEnabled());
        QVERIFY(f.form.chgoper->isEnabled());
        QCOMPARE(f.form.mPopRestore->text(), QStringLiteral("&Visualizza Velarion"));
        QCOMPARE(f.form.mPopExit->text(), QStringLiteral("&Chiudi Velarion"));
        // The offscreen platform has no tray: the window works without it.
        QCOMPARE(f.form.tray != nullptr, QSystemTrayIcon::isSystemTrayAvailable());
        // Lines are Windows-1252 bytes, shown as text.
        f.list.add(" Citt\xe0 \x80 10");
        QCOMPARE(f.form.List1->item(f.form.List1->count() - 1)->text(),
                 QString::fromUtf8("07/12/2026 10:30:00 Città € 10"));
        f.list.clear();
        QCOMPARE(f.form.List1->count(), 0);
    }

    void listKeepsItsLinesAfterTheLogFlush() {
        Fixture f;
        QCOMPARE(f.logic->load(), LoadResult::Ready);
        f.list.clear();
        for (int i = 0; i < 600; ++i) f.list.add(" riga " + std::to_string(i));
        // The log flush takes them from the list; the window still shows the last 500.
        f.list.drop_front(f.list.size());
        f.list.refresh();
        QCOMPARE(f.list.size(), std::size_t{0});
        QCOMPARE(f.form.List1->count(), 500);
        QCOMPARE(f.form.List1->item(499)->text(), QStringLiteral("07/12/2026 10:30:00 riga 599"));
        QCOMPARE(f.form.List1->item(0)->text(), QStringLiteral("07/12/2026 10:30:00 riga 100"));
    }

    void aWarningChangesTheLookUntilItEnds() {
        Fixture f;
        QCOMPARE(f.logic->load(), LoadResult::Ready);
        const QString normal = f.form.Label1->text();
        const auto centre = [&] { return f.form.windowIcon().pixmap(32).toImage().pixelColor(4, 16); };
        const QColor active = centre();
        f.form.set_warning("2 in attesa, server di posta non raggiungibile dalle 17:16");
        QCOMPARE(f.form.Label1->text(), QStringLiteral("2 in attesa, server di posta non raggiungibile dalle 17:16"));
        QCOMPARE(f.form.Label1->toolTip(), f.form.Label1->text());
        QVERIFY(centre() != active);
        QVERIFY(centre().red() > centre().blue());  // amber
        // A status set meanwhile shows once the warning ends.
        f.form.set_status("Velarion attivato");
        QCOMPARE(f.form.Label1->text(), QStringLiteral("2 in attesa, server di posta non raggiungibile dalle 17:16"));
        f.form.set_warning("");
        QCOMPARE(f.form.Label1->text(), QStringLiteral("Velarion attivato"));
        QCOMPARE(centre(), active);
        QVERIFY(normal.size() > 0);
    }

    void aRetriedFailureOpensNoBoxAndShowsTheWarning() {
        // The real scan, a message to send and a sending server that refuses connections.
        testing::TempDir dir;
        FixedClock clock{make_datetime(2026, 12, 7, 17, 16, 0)};
        qt::Form1 form;
        Agent agent{clock, form};
        form.attach_list(agent.list);
        const std::string spool = dir / "spool/";
        testing::write_file(dir / "velarion.ini",
                            "[AB]\nEMailAddr=ab@example.com\nPath=" + spool + "\ntempozip_dir=" + dir / "tempozip/" +
                                "\n[GLOBAL]\nTiming=50\n[MAPI]\nclient=Posta Demo\ntransport=smtp://127.0.0.1:1\n"
                                "store=maildir://localhost" + dir / "posta" + "\n");
        testing::write_file(dir / "tempozip/note.txt", "");
        testing::write_file(spool + "AB.1.h", "RF1\r\n\r\nab@example.com\r\nx@example.it\r\nOggetto\r\n.\r\nSEND\r\n");
        testing::write_file(spool + "AB.1.b", "Testo\r\n");
        testing::write_file(spool + "AB.1.T", "");
        agent.settings.host.program_dir = dir / "prog/";
        agent.settings.host.documents_dir = dir / "docs";
        Form1Logic logic(agent, getcommandline("ope:AB ini:" + dir.path(), 10));
        form.attach_logic(&logic);
        QCOMPARE(logic.load(), LoadResult::Ready);
        const QColor active = form.windowIcon().pixmap(32).toImage().pixelColor(4, 16);

        // Any modal box would block the tick: one that opens is noted and closed.
        bool boxed = false;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (QWidget* w = QApplication::activeModalWidget()) {
                boxed = true;
                w->close();
            }
        });
        watch.start(20);
        logic.timer_tick();
        watch.stop();
        QVERIFY(!boxed);
        QCOMPARE(form.Label1->text(), QStringLiteral("1 in attesa, server di posta non raggiungibile dalle 17:16"));
        QCOMPARE(form.Label1->toolTip(), form.Label1->text());
        const QColor warned = form.windowIcon().pixmap(32).toImage().pixelColor(4, 16);
        QVERIFY(warned != active);
        QVERIFY(warned.red() > warned.blue());
        QVERIFY(QFile::exists(QString::fromStdString(spool + "AB.1.h")));  // the message waits
        if (!qEnvironmentVariableIsEmpty("VELARION_SHOTS")) {
            form.resize(720, 360);
            form.show();
            form.grab().save(qEnvironmentVariable("VELARION_SHOTS") + "/window_warning.png");
        }
    }

    void theWarningCountsTheWaitingMessagesAndEndsWhenRetryNowDelivers() {
        testing::SmtpServer smtp;
        if (!smtp.skip_reason().empty()) QSKIP(smtp.skip_reason().c_str());
        // The sending server answers only once the gate in front of it opens.
        testing::StallProxy gate(smtp.port(), "", 0);
        testing::TempDir dir;
        FixedClock clock{make_datetime(2026, 12, 7, 17, 16, 0)};
        qt::Form1 form;
        Agent agent{clock, form};
        form.attach_list(agent.list);
        const std::string spool = dir / "spool/";
        testing::write_file(dir / "velarion.ini",
                            "[AB]\nEMailAddr=ab@example.com\nPath=" + spool + "\ntempozip_dir=" + dir / "tempozip/" +
                                "\n[GLOBAL]\nTiming=50\nretry_delays=10min\n[MAPI]\nclient=Posta Demo\n"
                                "transport=smtp://127.0.0.1:" + std::to_string(gate.port()) + "\n");
        const auto message = [&](const std::string& base) {
            testing::write_file(spool + base + ".h", "RF1\r\n\r\nab@example.com\r\nx@example.it\r\nOggetto\r\n.\r\nSEND\r\n");
            testing::write_file(spool + base + ".b", "Testo\r\n");
            testing::write_file(spool + base + ".T", "");
        };
        message("AB.1");
        agent.settings.host.program_dir = dir / "prog/";
        agent.settings.host.documents_dir = dir / "docs";
        Form1Logic logic(agent, getcommandline("ope:AB ini:" + dir.path(), 10));
        form.attach_logic(&logic);
        QCOMPARE(logic.load(), LoadResult::Ready);
        logic.timer_tick();
        const QString one = QStringLiteral("1 in attesa, server di posta non raggiungibile dalle 17:16");
        QCOMPARE(form.Label1->text(), one);
        // More messages arrive while the server is away: the count follows, the start stays.
        message("AB.2");
        message("AB.3");
        clock.set(make_datetime(2026, 12, 7, 17, 40, 0));
        logic.timer_tick();
        const QString three = QStringLiteral("3 in attesa, server di posta non raggiungibile dalle 17:16");
        QCOMPARE(form.Label1->text(), three);
        QCOMPARE(form.Label1->toolTip(), three);
        if (form.tray) QCOMPARE(form.tray->toolTip(), three);

        // "Riprova ora" with the server back: all three go, and the look is the normal one again.
        gate.start();
        QVERIFY(gate.skip_reason().empty());
        form.mPopRetry->trigger();
        logic.timer_tick();
        QCOMPARE(smtp.messages(3).size(), std::size_t{3});
        QCOMPARE(form.Label1->text(), QStringLiteral("Velarion attivato"));
        QCOMPARE(form.Label1->toolTip(), QString());
        if (form.tray) QVERIFY(form.tray->toolTip() != three);
    }

    void check1SwitchesOffAndOn() {
        Fixture f;
        QCOMPARE(f.logic->load(), LoadResult::Ready);
        QTest::mouseClick(f.form.Check1, Qt::LeftButton, {}, QPoint(8, f.form.Check1->height() / 2));
        QVERIFY(f.form.Check1->isChecked());
        QVERIFY(!f.form.Timer1->isActive());
        QCOMPARE(f.form.Label1->text(), QStringLiteral("Velarion disattivato"));
        QVERIFY(f.logic->checked());
        QTest::mouseClick(f.form.Check1, Qt::LeftButton, {}, QPoint(8, f.form.Check1->height() / 2));
        QVERIFY(!f.form.Check1->isChecked());
        QVERIFY(f.form.Timer1->isActive());
        QCOMPARE(f.form.Label1->text(), kStarting);
    }

    void timerTicksNeverOverlap() {
        Fixture f;
        QCOMPARE(f.logic->load(), LoadResult::Ready);
        QTRY_VERIFY_WITH_TIMEOUT(f.scans >= 3, 5000);
        QCOMPARE(f.max_depth, 1);
        QCOMPARE(f.form.Label1->text(), QStringLiteral("Velarion attivato"));
        // The scan switches the agent off: Check1 checked, timer stopped.
        f.logic->switch_off();
        QVERIFY(f.form.Check1->isChecked());
        QVERIFY(!f.form.Timer1->isActive());
        const int scans = f.scans;
        QTest::qWait(200);
        QCOMPARE(f.scans, scans);
    }

    void menusOpenTheDialogs() {
        Fixture f;
        QCOMPARE(f.logic->load(), LoadResult::Ready);
        // File_1: the user parameters window, not modal, one at a time.
        f.form.File_1->trigger();
        QVERIFY(f.form.setuputente());
        QVERIFY(f.form.setuputente()->isVisible());
        QVERIFY(!f.form.setuputente()->isModal());
        auto* first = f.form.setuputente();
        QCOMPARE(qobject_cast<QLineEdit*>(first->control(SetupField::txt_operatore))->text(), QStringLiteral("AB"));
        f.form.File_1->trigger();
        QCOMPARE(f.form.setuputente(), first);
        // Its save re-reads the operator's parameters into the agent's settings.
        qobject_cast<QLineEdit*>(first->control(SetupField::txt_direc_files))->setText(QStringLiteral("/spool/nuovo/"));
        QTest::mouseClick(first->cmdSave, Qt::LeftButton);
        QCOMPARE(QString::fromStdString(f.agent.settings.spool_dir), QStringLiteral("/spool/nuovo/"));
        QTRY_VERIFY(!f.form.setuputente());  // closed and gone

        // mailsertu: the support request, modal.
        bool modal = false;
        QTimer::singleShot(50, [&modal] {
            auto* form3 = qobject_cast<qt::Form3*>(QApplication::activeModalWidget());
            modal = form3 != nullptr;
            if (form3) form3->cmdEsci->click();
        });
        f.form.mailsertu->trigger();
        QVERIFY(modal);
    }

    void minimiseAndClose() {
        Fixture f;
        QCOMPARE(f.logic->load(), LoadResult::Ready);
        f.form.showMinimized();
        QTest::qWait(50);
        // Without a tray the window is not hidden: there would be no way back.
        if (!f.form.tray) QVERIFY(!f.form.isHidden());
        f.form.close();
        QVERIFY(f.logic->closed());
        QVERIFY(f.form.window_closed());
        QVERIFY(!f.form.Timer1->isActive());
        const std::string log = testing::read_file(f.dir / "tempozip/log/velarion_log_lun_07.txt");
        QVERIFY(log.find("07/12/2026 10:30:00 Chiusura VELARION\n") != std::string::npos);
    }
};

QTEST_MAIN(Form1Test)
#include "form1_test.moc"
