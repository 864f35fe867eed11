// Where the service of an operator keeps its installation: VELARION_INI in
// its environment file, ~/.config/velarion/<OP>.env (the user service's) or
// /etc/velarion/<OP>.env (the system service's), as velarion@.service reads
// them. The window-less commands given no "ini:" look there, so that
// `velarion --queue ope:AB` finds the installation the service runs.
#pragma once

#include <string>

namespace velarion::service_env {

// The folder named by VELARION_INI for operator `ope` ("" when no file names
// one): the environment variable VELARION_INI first, then the user's file,
// then the system's.
std::string installation(const std::string& ope);

// VELARION_INI of one environment file's text ("" when it has none); the
// value may be quoted with " or '.
std::string ini_of(const std::string& env_text);

}  // namespace velarion::service_env
