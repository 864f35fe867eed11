// How a tool beside the agent (velarion-compose) sets an agent up without a
// window or a spool: the host facts the process entry finds, the keyword
// switches, the operator's settings of velarion.ini when "ini:" and "ope:"
// are given, then its own work folder and the component check. The tool
// includes this header alone from the start-up layer.
#pragma once

#include <string>
#include <vector>

#include "startup/agent.h"

namespace velarion {

// Fills the host facts and the switches from `keywords` (the agent's
// "ini:", "ope:", ... arguments) and loads the operator's settings when
// "ini:" names a folder; without "ini:" styles and merges are looked for in
// `style_folder` (ending in "/"). Returns "" when done, else the usage
// problem to report (e.g. "ini: and ope: go together").
std::string load_tool_settings(Agent& agent, const std::vector<std::string>& keywords, const std::string& style_folder);

// Gives the agent the work folder `work` (ending in "/"), derives the
// settings and runs the component check, as the agent's start does.
void ready_tool(Agent& agent, const std::string& work);

}  // namespace velarion
