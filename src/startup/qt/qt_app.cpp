#include "startup/qt/qt_app.h"

#include <clocale>

#include <QApplication>

#include "platform/clock.h"
#include "startup/context.h"
#include "startup/main_window.h"
#include "startup/qt/form1.h"
#include "startup/qt/instance_server.h"

namespace velarion {

int run_qt(int argc, char** argv, const FrontEndOptions& opts) {
    QApplication app(argc, argv);
    // QApplication takes the user's locale; number conversions of the core
    // (layout files, PDF output) stay on the "C" notation.
    std::setlocale(LC_NUMERIC, "C");
    // The tray icon keeps the agent alive while its window is hidden.
    QApplication::setQuitOnLastWindowClosed(false);

    SystemClock clock;
    qt::Form1 form;
    Context ctx(clock, form);
    form.attach_list(ctx);

    const std::vector<std::string> args = getcommandline(opts.command_line, 10);
    qt::InstanceServer guard;
    if (!Sub_Main(ctx, args, guard)) return 1;
    QObject::connect(&guard, &qt::InstanceServer::raiseRequested, &form, [&form] { form.restore_window(); });

    Form1Logic logic(ctx, args);
    form.attach_logic(&logic);
    const LoadResult r = logic.load();
    if (r == LoadResult::EndProcess) return 1;
    if (opts.once) {
        if (r == LoadResult::Ready && logic.timer_enabled()) logic.timer_tick();
        logic.request_close();
        return r == LoadResult::Ready ? 0 : 1;
    }
    if (logic.closed()) return 0;
    return app.exec();
}

}  // namespace velarion
