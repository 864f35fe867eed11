// What the process entry makes once and start-up alone writes: the loaded
// settings and the activity list, with the runtime view of them (clock, view,
// list, read-only settings) that every subsystem is handed.
#pragma once

#include "common/activity_list.h"
#include "common/runtime.h"
#include "common/settings.h"
#include "common/view.h"
#include "platform/os/clock.h"

namespace velarion {

struct Agent {
    Agent(Clock& c, View& v) : clock(c), view(v), list(c), rt(c, v, list, settings, fonts, tokens, ini_files) { settings.derive(); }
    Agent(const Agent&) = delete;
    Agent& operator=(const Agent&) = delete;

    Clock& clock;
    View& view;
    Settings settings;  // loaded and derived by start-up; read by the others through rt.cfg
    ActivityList list;  // List1
    font_files::FontFinder fonts;
    oauth::Tokens tokens;
    IniCache ini_files;
    Runtime rt;
};

}  // namespace velarion
