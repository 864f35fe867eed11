#include "platform/os/paths.h"

#include <strings.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace velarion::paths {

std::string native(std::string path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

bool ends_with_separator(const std::string& path) {
    return !path.empty() && (path.back() == '/' || path.back() == '\\');
}

std::string with_separator(std::string path) {
    if (!ends_with_separator(path)) path += '/';
    return path;
}

bool has_separator(const std::string& path) {
    return path.find_first_of("/\\") != std::string::npos;
}

std::string resolve(const std::string& raw) {
    std::error_code ec;
    std::string path = native(raw);
    if (path.empty()) return "";
    if (fs::exists(path, ec)) return path;
    // Walk the components, matching each one without case where the exact name is missing.
    fs::path p(path);
    fs::path cur = p.is_absolute() ? fs::path("/") : fs::path(".");
    bool first = true;
    for (const auto& part : p.relative_path()) {
        const std::string name = part.string();
        if (name.empty()) continue;
        const std::string hit = find_in_folder(cur.string(), name);
        if (hit.empty()) return "";
        cur = hit;
        first = false;
    }
    if (first) return "";
    std::string out = cur.string();
    if (!p.is_absolute() && out.rfind("./", 0) == 0) out.erase(0, 2);
    return out;
}

std::string find_in_folder(const std::string& folder, const std::string& name) {
    std::error_code ec;
    const fs::path exact = fs::path(folder) / name;
    if (fs::exists(exact, ec)) return exact.string();
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (strcasecmp(it->path().filename().c_str(), name.c_str()) == 0) return it->path().string();
    }
    return "";
}

bool is_drive_path(const std::string& path) {
    return path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]));
}

bool exists(const std::string& path) { return !resolve(path).empty(); }

bool is_folder(const std::string& path) {
    const std::string found = resolve(path);
    std::error_code ec;
    return !found.empty() && std::filesystem::is_directory(found, ec);
}

bool writable_folder(const std::string& path) {
    return is_folder(path) && ::access(resolve(path).c_str(), W_OK | X_OK) == 0;
}

std::string file_name(const std::string& path) {
    auto pos = path.find_last_of("/\\");
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

std::string folder(const std::string& path) {
    auto pos = path.find_last_of("/\\");
    return pos == std::string::npos ? "" : path.substr(0, pos + 1);
}

std::string program_dir() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return "./";
    return with_separator(exe.parent_path().string());
}

}  // namespace velarion::paths
