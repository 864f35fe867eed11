#include "startup/service_env.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace velarion::service_env {

std::string ini_of(const std::string& env_text) {
    std::istringstream in(env_text);
    std::string found;
    for (std::string line; std::getline(in, line);) {
        const auto start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, 12, "VELARION_INI") != 0) continue;
        std::string rest = line.substr(start + 12);
        const auto eq = rest.find_first_not_of(" \t");
        if (eq == std::string::npos || rest[eq] != '=') continue;
        std::string value = rest.substr(eq + 1);
        value.erase(0, value.find_first_not_of(" \t") == std::string::npos ? value.size() : value.find_first_not_of(" \t"));
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r')) value.pop_back();
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        found = value;  // the last assignment wins, as in systemd
    }
    return found;
}

namespace {
std::string from_file(const std::string& path) {
    std::ifstream in(path);
    if (!in) return "";
    std::string text(4096, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return ini_of(text);
}
}  // namespace

std::string installation(const std::string& ope) {
    if (const char* v = std::getenv("VELARION_INI"); v && *v) return v;
    if (ope.empty() || ope.find('/') != std::string::npos) return "";
    std::string config;
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) config = x;
    else if (const char* h = std::getenv("HOME"); h && *h) config = std::string(h) + "/.config";
    if (!config.empty())
        if (std::string ini = from_file(config + "/velarion/" + ope + ".env"); !ini.empty()) return ini;
    return from_file("/etc/velarion/" + ope + ".env");
}

}  // namespace velarion::service_env
