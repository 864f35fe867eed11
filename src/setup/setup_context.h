// What start-up lends the settings dialogs: the runtime (clock, activity
// list, the settings as loaded), the settings it owns, for the few values a
// dialog changes in memory, and the re-read of the operator's parameters
// after a save (Leggi_Param_Utenti, which derives the values again).
#pragma once

#include <functional>

#include "common/runtime.h"
#include "common/settings.h"

namespace velarion {

struct SetupContext {
    Runtime& rt;
    Settings& settings;  // the object rt.cfg refers to
    std::function<void()> reload;
};

}  // namespace velarion
