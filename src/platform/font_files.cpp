#include "platform/font_files.h"

#include <strings.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/paths.h"
#include "platform/text_encoding.h"

namespace fs = std::filesystem;

namespace velarion::font_files {

namespace {

// The first regular file of that name (any case) below the system font folders.
std::string in_system_folders(const std::string& name) {
    for (const auto& root : system_folders()) {
        std::error_code ec;
        fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec);
        for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            std::error_code type_ec;
            if (strcasecmp(it->path().filename().c_str(), name.c_str()) == 0 && it->is_regular_file(type_ec))
                return it->path().string();
        }
    }
    return "";
}

// The name itself when it carries a folder and exists; else the file of its
// last component in the program folder. "" when neither.
std::string direct_or_in_program(const std::string& name, const std::string& program_dir) {
    if (paths::has_separator(name)) {
        const std::string direct = paths::resolve(name);
        if (!direct.empty()) return direct;
    }
    const std::string base = paths::file_name(paths::native(name));
    const std::string program = program_dir.empty() ? paths::program_dir() : program_dir;
    const std::string hit = paths::find_in_folder(program, base);
    std::error_code ec;
    return !hit.empty() && fs::is_regular_file(hit, ec) ? hit : "";
}

}  // namespace

std::vector<std::string> system_folders() {
    std::vector<std::string> folders = {"/usr/share/fonts", "/usr/local/share/fonts"};
    if (const char* home = std::getenv("HOME"); home && *home) {
        folders.push_back(std::string(home) + "/.local/share/fonts");
        folders.push_back(std::string(home) + "/.fonts");
    }
    return folders;
}

std::string find(const std::string& name, const std::string& program_dir) {
    if (name.empty()) return "";
    const std::string hit = direct_or_in_program(name, program_dir);
    return hit.empty() ? in_system_folders(paths::file_name(paths::native(name))) : hit;
}

std::string FontFinder::find(const std::string& name, const std::string& program_dir) {
    if (name.empty()) return "";
    const std::string hit = direct_or_in_program(name, program_dir);
    if (!hit.empty()) return hit;
    const std::string base = paths::file_name(paths::native(name));
    const std::string key = text::lower(base);
    const auto now = std::chrono::steady_clock::now();
    if (auto it = system_hits_.find(key); it != system_hits_.end()) {
        std::error_code ec;
        const Hit& h = it->second;
        if (h.path.empty() ? now - h.when < miss_lifetime_ : fs::is_regular_file(h.path, ec)) return h.path;
    }
    Hit& h = system_hits_[key];
    h = {in_system_folders(base), now};
    return h.path;
}

}  // namespace velarion::font_files
