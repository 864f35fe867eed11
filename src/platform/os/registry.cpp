#include "platform/os/registry.h"

#include <strings.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/os/ini_file.h"
#include "platform/os/process.h"

namespace velarion::registry {

namespace {

bool same(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

std::string cut(std::string s) {
    if (s.size() > 254) s.resize(254);
    return s;
}

std::string trim_line(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    return s;
}

// The applications folders of the XDG data directories, user's first.
std::vector<std::string> application_dirs() {
    std::vector<std::string> out;
    const char* data_home = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (data_home && *data_home) {
        out.push_back(std::string(data_home) + "/applications/");
    } else if (home && *home) {
        out.push_back(std::string(home) + "/.local/share/applications/");
    }
    const char* dirs = std::getenv("XDG_DATA_DIRS");
    std::string list = dirs && *dirs ? dirs : "/usr/local/share:/usr/share";
    std::stringstream ss(list);
    std::string d;
    while (std::getline(ss, d, ':'))
        if (!d.empty()) out.push_back(d + "/applications/");
    return out;
}

}  // namespace

std::string os_pretty_name(const std::string& os_release_path) {
    std::ifstream in(os_release_path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("PRETTY_NAME=", 0) != 0) continue;
        std::string v = trim_line(line.substr(12));
        if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
            v = v.substr(1, v.size() - 2);
        return v;
    }
    return "";
}

std::string default_mail_client_name() {
    auto handler = process::run_capture({"xdg-settings", "get", "default-url-scheme-handler", "mailto"});
    if (!handler) return "";
    const std::string desktop = trim_line(*handler);
    if (desktop.empty()) return "";
    for (const auto& dir : application_dirs()) {
        std::ifstream probe(dir + desktop);
        if (!probe) continue;
        std::string name = ini::read("Desktop Entry", "Name", "", dir + desktop);
        if (!name.empty()) return name;
    }
    // No .desktop file with a name: the handler's own file name serves.
    auto dot = desktop.rfind(".desktop");
    return dot == std::string::npos ? desktop : desktop.substr(0, dot);
}

std::string read(Hive hive, const std::string& key, const std::string& value, const std::string& def,
                 const std::string& config_path) {
    if (same(key, "Software\\Microsoft\\Windows\\CurrentVersion") ||
        same(key, "Software\\Microsoft\\Windows NT\\CurrentVersion")) {
        if (hive == Hive::LocalMachine && same(value, "ProductName")) {
            std::string name = os_pretty_name("/etc/os-release");
            if (name.empty()) name = os_pretty_name("/usr/lib/os-release");
            return name.empty() ? def : cut(name);
        }
        return def;  // "SystemRoot" and the rest: no such value on Linux.
    }
    if (same(key, "Software\\Clients\\Mail") && value.empty()) {
        std::string name = config_path.empty() ? "" : ini::read("MAPI", "client", "", config_path);
        if (name.empty()) name = default_mail_client_name();
        return name.empty() ? def : cut(name);
    }
    return def;
}

}  // namespace velarion::registry
