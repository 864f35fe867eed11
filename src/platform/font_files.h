// Font files named by the configuration: a path of its own, else looked up in
// the program's folder, then in the system's font folders (with their
// sub-folders), without regard to case.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace velarion::font_files {

// The system's font folders, in search order: /usr/share/fonts,
// /usr/local/share/fonts, ~/.local/share/fonts and ~/.fonts.
std::vector<std::string> system_folders();

// Full path of the font file `name`, or "" when it is nowhere to be found.
// A name with a folder is taken as it stands when that file exists; otherwise
// only its last component is looked for, in program_dir, then below the
// system folders.
std::string find(const std::string& name, const std::string& program_dir);

// The same search, remembering what the system folders gave for each name
// (found or not), so that walking them costs once per name for the owner's
// lifetime (a barcode font that is not installed is asked for on every
// barcode of a long listing).
class FontFinder {
public:
    std::string find(const std::string& name, const std::string& program_dir);

private:
    std::map<std::string, std::string> system_hits_;  // lower-case name -> path or ""
};

}  // namespace velarion::font_files
