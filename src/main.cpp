// Process entry: the Qt window or, with --headless, the headless runner.
#include "startup/command_line.h"
#include "startup/headless.h"
#include "startup/qt/qt_app.h"

int main(int argc, char** argv) {
    const velarion::FrontEndOptions opts = velarion::take_front_end_options(argc, argv);
    if (opts.headless) return velarion::run_headless(opts.command_line, opts.once);
    return velarion::run_qt(argc, argv, opts);
}
