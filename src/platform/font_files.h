// Font files named by the configuration: looked up in the program's folder,
// then in the system's font folders, without regard to case.
#pragma once

#include <string>

namespace velarion::font_files {

// Full path of the font file `name`, or "" when it is nowhere to be found.
// Searched: program_dir, then /usr/share/fonts, /usr/local/share/fonts and
// ~/.local/share/fonts (with their sub-folders).
std::string find(const std::string& name, const std::string& program_dir);

}  // namespace velarion::font_files
