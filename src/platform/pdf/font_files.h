// Fonts named by the configuration, by file or by family. A file name (one
// with a folder, or ending in a font file's extension such as ".ttf") is a
// path of its own, else looked up in the program's folder, then among the
// fonts fontconfig knows, then in the system's font folders (with their
// sub-folders), without regard to case. Any other name is a fontconfig
// family, with a style after a colon ("DejaVu Sans Mono:bold"); a font of
// another family that fontconfig would put in its place does not count, so
// a misspelt family is reported missing instead of being replaced.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace velarion::font_files {

// The system's font folders, in search order: /usr/share/fonts,
// /usr/local/share/fonts, ~/.local/share/fonts and ~/.fonts.
std::vector<std::string> system_folders();

// Frees fontconfig's configuration and caches (FcFini), for a process that
// checks for leaks when it ends; no font may be looked up after it.
void release_config();

// True when `name` names a font file rather than a family.
bool is_file_name(const std::string& name);

// Full path of the font `name`, or "" when it is nowhere to be found.
// A file name with a folder is taken as it stands when that file exists;
// otherwise only its last component is looked for, in program_dir, then
// among fontconfig's fonts, then below the system folders. A family name is
// matched by fontconfig.
std::string find(const std::string& name, const std::string& program_dir);

// The same search, remembering what the system gave for each name, so that
// looking costs once per name, not once per message or per barcode (a
// barcode font that is not installed is asked for on every barcode of a
// long listing). The agent keeps one for its whole run: a file found is
// checked to be still there on each use, and a name not found is looked for
// again after miss_lifetime, so a font installed while the agent runs is
// seen without a restart. The program folder is looked at on every call,
// but listed again only when it changed (its own stamp: device, inode,
// modification time), so a font put there or removed is seen at once.
class FontFinder {
public:
    explicit FontFinder(std::chrono::seconds miss_lifetime = std::chrono::minutes(5)) : miss_lifetime_(miss_lifetime) {}

    std::string find(const std::string& name, const std::string& program_dir);

    // Times a program folder was listed to find a name (for tests).
    int folder_listings() const { return folder_listings_; }

private:
    struct Hit {
        std::string path;  // "" when not found
        std::chrono::steady_clock::time_point when;
    };
    // What the names asked for gave in one program folder while it stays
    // the same version.
    struct Folder {
        unsigned long long device = 0, inode = 0;
        long long mtime_ns = 0;
        bool settled = false;  // modified well before it was listed: its stamp tells every later change
        std::map<std::string, std::string> found;  // file name asked for -> its path there, "" for none
    };
    std::string in_program_folder(const std::string& base, const std::string& program_dir);

    std::chrono::seconds miss_lifetime_;
    // "file:" + lower-case file name, or "family:" + family name -> what the
    // system gave.
    std::map<std::string, Hit> system_hits_;
    std::map<std::string, Folder> folders_;  // by program folder
    std::string own_folder_;                 // the running program's folder, once asked for
    int folder_listings_ = 0;
};

}  // namespace velarion::font_files
