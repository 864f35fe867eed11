// The process-wide values of the agent, created once by the process entry and
// passed by reference to every routine.
#pragma once

#include <functional>
#include <string>

#include "delivery/delivery_state.h"
#include "layout/pre_analysis.h"
#include "pdf/layout_state.h"
#include "platform/clock.h"
#include "spool/run_state.h"
#include "startup/activity_list.h"
#include "startup/settings.h"
#include "startup/view.h"

namespace velarion {

struct Context {
    Context(Clock& c, View& v) : clock(c), view(v), list(c) {}
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    Clock& clock;
    View& view;
    ActivityList list;  // List1

    Switches sw;
    HostInfo host;
    OperatorSettings op;
    PdfComponents pdf;

    RunState run;
    DeliveryState delivery;
    PreAnalysis pre;
    LayoutState layout;

    // Switches the agent off as checking Check1 does (set by the window logic).
    std::function<void()> switch_off;

    // Full path of velarion.ini in the configuration directory.
    std::string ini_path() const;
    // A debug trace: a message box when the debug flag is "Y".
    void trace(const std::string& text);
    // A debug trace written to the activity list when the debug flag is "Y".
    void trace_line(const std::string& text);
};

}  // namespace velarion
