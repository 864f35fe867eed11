#include "startup/command_agent.h"

#include "platform/paths.h"
#include "startup/command_line.h"

namespace velarion {

CommandAgent::CommandAgent(const std::string& command_line) : agent_(clock_, view_) {
    const std::vector<std::string> args = getcommandline(command_line, 10);
    apply_load_switches(agent_.settings.sw, args, paths::program_dir());
    apply_main_switches(agent_.settings.sw, args);  // "cdo:", "plus:"
}

}  // namespace velarion
