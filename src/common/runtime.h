// What every subsystem routine is handed: the clock, the view, the activity
// list, the loaded settings (read only), the run's font look-ups and the
// style files read so far. Start-up owns what it refers to; the state of each
// subsystem lives in that subsystem's own objects.
#pragma once

#include <string>

#include "common/activity_list.h"
#include "common/ini_cache.h"
#include "common/settings.h"
#include "common/view.h"
#include "platform/os/clock.h"
#include "platform/pdf/font_files.h"
#include "platform/mail/oauth_token.h"

namespace velarion {

struct Runtime {
    Runtime(Clock& c, View& v, ActivityList& l, const Settings& s, font_files::FontFinder& f, oauth::Tokens& t,
            IniCache& i)
        : clock(c), view(v), list(l), cfg(s), fonts(f), tokens(t), ini_files(i) {}

    Clock& clock;
    View& view;
    ActivityList& list;  // List1
    const Settings& cfg;
    font_files::FontFinder& fonts;  // font files found so far, kept for the whole run
    oauth::Tokens& tokens;          // OAuth access tokens of the mail sign-on, kept for the whole run
    IniCache& ini_files;            // style files as read, kept for the whole run while unchanged

    // A debug trace: a message box when the debug flag is "Y".
    void trace(const std::string& text) const;
    // A debug trace written to the activity list when the debug flag is "Y".
    void trace_line(const std::string& text) const;
};

}  // namespace velarion
