// --check-config ini:DIR ope:OP: loads velarion.ini and the operator's keys as
// the agent does, looks at the folders they name, the retry and GLOBAL keys,
// the mail URLs and every page style of loghi.ini, and lists each problem on
// standard output, one a line. Nothing is changed, nothing is sent.
#pragma once

#include <string>

namespace velarion {

// Exit status: 0 no problem, 1 one or more, 2 bad arguments.
int run_config_check(const std::string& command_line);

}  // namespace velarion
