// The desktop's choice of installation: the configuration folder and the
// operator the menu entry starts the agent with, kept in
// ${XDG_CONFIG_HOME:-~/.config}/velarion/desktop.env (read by velarion-desktop).
#pragma once

#include <string>

namespace velarion::desktop_env {

// The file's path ("" when neither XDG_CONFIG_HOME nor HOME is set).
std::string path();

// True when the program was started without a configuration: no "ini:" on
// its command line and no velarion.ini in the program's folder.
bool configuration_missing(const std::string& command_line, const std::string& program_dir);

// Why the folder and operator cannot be used ("" when they can): the command
// line has no quoting, so a folder with blanks cannot be passed on.
std::string unusable(const std::string& ini_dir, const std::string& ope);

// Writes VELARION_INI and VELARION_OPE into the file (other lines, such as
// VELARION_ARGS, are kept), quoted for the shell; false when it could not be written.
bool remember(const std::string& ini_dir, const std::string& ope);

}  // namespace velarion::desktop_env
