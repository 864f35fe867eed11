#include "platform/font_files.h"

#include <strings.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace velarion::font_files {

namespace {
std::string in_folder(const fs::path& folder, const std::string& name, bool recursive) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) return "";
    if (!recursive) {
        for (const auto& e : fs::directory_iterator(folder, ec))
            if (strcasecmp(e.path().filename().c_str(), name.c_str()) == 0) return e.path().string();
        return "";
    }
    auto opts = fs::directory_options::skip_permission_denied;
    for (auto it = fs::recursive_directory_iterator(folder, opts, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (strcasecmp(it->path().filename().c_str(), name.c_str()) == 0) return it->path().string();
    }
    return "";
}
}  // namespace

std::string find(const std::string& name, const std::string& program_dir) {
    if (name.empty()) return "";
    if (!program_dir.empty()) {
        std::string hit = in_folder(program_dir, name, false);
        if (!hit.empty()) return hit;
    }
    std::vector<fs::path> folders = {"/usr/share/fonts", "/usr/local/share/fonts"};
    if (const char* home = std::getenv("HOME"); home && *home) folders.emplace_back(std::string(home) + "/.local/share/fonts");
    for (const auto& f : folders) {
        std::string hit = in_folder(f, name, true);
        if (!hit.empty()) return hit;
    }
    return "";
}

}  // namespace velarion::font_files
