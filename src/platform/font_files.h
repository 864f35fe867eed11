// Font files named by the configuration: a path of its own, else looked up in
// the program's folder, then in the system's font folders (with their
// sub-folders), without regard to case.
#pragma once

#include <chrono>
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

// The same search, remembering what the system folders gave for each name,
// so that walking them costs once per name, not once per message or per
// barcode (a barcode font that is not installed is asked for on every
// barcode of a long listing). The agent keeps one for its whole run: a file
// found is checked to be still there on each use, and a name not found is
// looked for again after miss_lifetime, so a font installed while the agent
// runs is seen without a restart.
class FontFinder {
public:
    explicit FontFinder(std::chrono::seconds miss_lifetime = std::chrono::minutes(5)) : miss_lifetime_(miss_lifetime) {}

    std::string find(const std::string& name, const std::string& program_dir);

private:
    struct Hit {
        std::string path;  // "" when not found
        std::chrono::steady_clock::time_point when;
    };
    std::chrono::seconds miss_lifetime_;
    std::map<std::string, Hit> system_hits_;  // lower-case name -> what the walk gave
};

}  // namespace velarion::font_files
