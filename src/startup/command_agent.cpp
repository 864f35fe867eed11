#include "startup/command_agent.h"

#include <cstdio>

#include "platform/os/paths.h"
#include "startup/command_line.h"
#include "startup/service_env.h"
#include "startup/user_params.h"

namespace velarion {

CommandAgent::CommandAgent(const std::string& command_line) : agent_(clock_, view_) {
    const std::vector<std::string> args = getcommandline(command_line, 10);
    apply_load_switches(agent_.settings.sw, args, paths::program_dir());
    apply_main_switches(agent_.settings.sw, args);  // "cdo:", "plus:"
    // Without "ini:" the installation the operator's service runs, when its
    // environment file names one; else the program's folder as before.
    Switches& sw = agent_.settings.sw;
    if (!sw.ini_given && !sw.ope.empty()) {
        const std::string ini = service_env::installation(sw.ope);
        if (!ini.empty()) sw.ini = ini;
    }
}

std::optional<int> CommandAgent::load(const std::function<void(const std::string& ini)>& unreachable) {
    if (agent_.settings.sw.ope.empty()) {
        std::fputs(usage_line().c_str(), stderr);
        return 2;
    }
    if (!paths::exists(agent_.settings.ini_path())) {
        unreachable(agent_.settings.ini_path());
        return 1;
    }
    Leggi_Param_Utenti(agent_);
    return std::nullopt;
}

}  // namespace velarion
