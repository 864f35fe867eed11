#include "startup/qt/qt_app.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <clocale>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>

#include "platform/os/clock.h"
#include "platform/os/paths.h"
#include "startup/desktop_env.h"
#include "startup/agent.h"
#include "startup/main_window.h"
#include "startup/qt/form1.h"
#include "startup/qt/instance_server.h"
#include "startup/sub_main.h"

namespace velarion {

namespace {
// SIGTERM, SIGINT and SIGHUP (a session's end or logout, Ctrl+C) reach the
// event loop through a socket pair and close the agent as closing the window does.
int g_signal_fds[2] = {-1, -1};
void on_stop_signal(int) {
    const char b = 1;
    (void)!write(g_signal_fds[0], &b, 1);
}
// Started with no configuration (from the menu, before desktop.env exists):
// the user picks the folder of velarion.ini and the operator, which are kept
// for the next start and added to the command line. False when cancelled.
bool choose_installation(std::string& command_line) {
    const QString dir = QFileDialog::getExistingDirectory(
        nullptr, QStringLiteral("Velarion: cartella della configurazione (velarion.ini)"), QDir::homePath());
    if (dir.isEmpty()) return false;
    std::string ope;
    if (command_line.find("ope:") == std::string::npos) {
        bool ok = false;
        const QString typed = QInputDialog::getText(nullptr, QStringLiteral("Velarion"),
                                                    QStringLiteral("Codice operatore"), QLineEdit::Normal, {}, &ok);
        if (!ok) return false;
        ope = typed.trimmed().toStdString();
    }
    const std::string folder = dir.toLocal8Bit().toStdString();
    const std::string why = desktop_env::unusable(folder, ope.empty() ? std::string("-") : ope);
    if (!why.empty()) {
        QMessageBox::warning(nullptr, QStringLiteral("Velarion"), QString::fromStdString(why));
        return false;
    }
    if (!ope.empty() && !desktop_env::remember(folder, ope))
        QMessageBox::warning(nullptr, QStringLiteral("Velarion"),
                             QStringLiteral("Impossibile salvare la scelta in ") +
                                 QString::fromStdString(desktop_env::path()));
    command_line += (command_line.empty() ? "" : " ") + std::string("ini:") + folder;
    if (!ope.empty()) command_line += " ope:" + ope;
    return true;
}

}  // namespace

int run_qt(int argc, char** argv, const FrontEndOptions& opts) {
    // The signals are caught from the start; one that comes during start-up
    // waits in the socket pair until the event loop runs.
    const bool signals_caught = socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signal_fds) == 0;
    if (signals_caught) {
        struct sigaction sa {};
        sa.sa_handler = on_stop_signal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(SIGTERM, &sa, nullptr);
        sigaction(SIGINT, &sa, nullptr);
        sigaction(SIGHUP, &sa, nullptr);
    }
    QApplication app(argc, argv);
    // QApplication takes the user's locale; number conversions of the core
    // (layout files, PDF output) stay on the "C" notation.
    std::setlocale(LC_NUMERIC, "C");
    // The tray icon keeps the agent alive while its window is hidden.
    QApplication::setQuitOnLastWindowClosed(false);

    // From here on a signal closes what is open: during start-up a box (the
    // one of a second instance among them) and the start, later the agent.
    bool stop_requested = false;
    Form1Logic* running = nullptr;
    if (signals_caught) {
        auto* notifier = new QSocketNotifier(g_signal_fds[1], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, [&running, &stop_requested, &app] {
            char b;
            (void)!read(g_signal_fds[1], &b, 1);
            // A box or dialog open would hold the close until someone clicks:
            // it is closed first, and the close comes once its loop has ended.
            if (QWidget* box = QApplication::activeModalWidget()) box->close();
            if (!running) {
                stop_requested = true;
                return;
            }
            QTimer::singleShot(0, &app, [&running] {
                if (running) running->request_close();
            });
        });
    }

    SystemClock clock;
    qt::Form1 form;
    Agent a(clock, form);
    form.attach_list(a.list);

    std::string command_line = opts.command_line;
    if (desktop_env::configuration_missing(command_line, paths::program_dir()) && !choose_installation(command_line))
        return 1;
    if (stop_requested) return 1;
    const std::vector<std::string> args = getcommandline(command_line, 10);
    Sub_Main(a, args);
    qt::InstanceServer guard;
    QObject::connect(&guard, &qt::InstanceServer::raiseRequested, &form, [&form] { form.restore_window(); });

    Form1Logic logic(a, args);
    logic.set_instance_guard(&guard);
    form.attach_logic(&logic);
    running = &logic;
    const LoadResult r = logic.load();
    if (r == LoadResult::EndProcess) return 1;
    if (opts.once) {
        if (r == LoadResult::Ready && logic.timer_enabled()) logic.timer_tick();
        logic.request_close();
        return r == LoadResult::Ready ? 0 : 1;
    }
    if (logic.closed()) {
        running = nullptr;
        return 0;
    }

    if (stop_requested) {
        // A signal came during start-up (its box was closed): the agent closes as it would later.
        logic.request_close();
        return 0;
    }
    // The activity lines reach the log file at least every minute, whatever the polling interval.
    QTimer log_timer;
    QObject::connect(&log_timer, &QTimer::timeout, &app, [&logic] { logic.flush_if_due(); });
    log_timer.start(30 * 1000);
    return app.exec();
}

}  // namespace velarion
