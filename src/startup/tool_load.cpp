#include "startup/tool_load.h"

#include <filesystem>
#include <system_error>

#include "platform/os/paths.h"
#include "startup/command_line.h"
#include "startup/component_check.h"
#include "startup/sub_main.h"
#include "startup/user_params.h"

namespace velarion {

std::string load_tool_settings(Agent& agent, const std::vector<std::string>& keywords, const std::string& style_folder) {
    Settings& cfg = agent.settings;
    // The host facts the process entry finds.
    cfg.host.decimal_separator = decimal_separator_test();
    cfg.host.program_dir = paths::program_dir();
    // The condensed font is looked for only when a print type needs it: a
    // listing in the standard fonts starts no font lookup (fontconfig).

    std::string line;
    for (const auto& k : keywords) line += (line.empty() ? "" : " ") + k;
    apply_load_switches(cfg.sw, getcommandline(line, 10), cfg.host.program_dir);
    if (cfg.sw.ini_given != !cfg.sw.ope.empty()) return "ini: and ope: go together";
    if (cfg.sw.ini_given) {
        if (cfg.sw.ini.empty()) return "ini: names no folder";
        std::error_code ec;
        if (!std::filesystem::is_regular_file(cfg.ini_path(), ec)) return "no velarion.ini in " + cfg.sw.ini;
        Leggi_Param_Utenti(agent);
    } else {
        cfg.op.Dir_Loghi = style_folder;
        cfg.op.unione_DIR = style_folder;
    }
    return "";
}

void ready_tool(Agent& agent, const std::string& work) {
    agent.settings.op.tempozip_dir = work;
    agent.settings.derive();
    controllo_dll(agent);
}

}  // namespace velarion
