#include "startup/desktop_env.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/os/atomic_file.h"
#include "platform/os/paths.h"

namespace velarion::desktop_env {

namespace {

std::string shell_quoted(const std::string& v) {
    std::string out = "'";
    for (char c : v) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

}  // namespace

std::string path() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && *xdg == '/') return std::string(xdg) + "/velarion/desktop.env";
    const char* home = std::getenv("HOME");
    if (home && *home) return std::string(home) + "/.config/velarion/desktop.env";
    return "";
}

bool configuration_missing(const std::string& command_line, const std::string& program_dir) {
    if (command_line.find("ini:") != std::string::npos) return false;
    return paths::find_in_folder(program_dir, "velarion.ini").empty();
}

std::string unusable(const std::string& ini_dir, const std::string& ope) {
    if (ini_dir.empty()) return "Nessuna cartella scelta";
    if (ini_dir.find_first_of(" \t\r\n") != std::string::npos)
        return "Il nome della cartella non puo' contenere spazi: " + ini_dir;
    if (paths::find_in_folder(paths::with_separator(ini_dir), "velarion.ini").empty())
        return "La cartella non contiene velarion.ini: " + ini_dir;
    if (ope.empty() || ope.size() > 5 || ope.find_first_of(" \t\r\n'\"") != std::string::npos)
        return "Codice operatore non valido";
    return "";
}

bool remember(const std::string& ini_dir, const std::string& ope) {
    const std::string file = path();
    if (file.empty()) return false;
    std::error_code ec;
    std::filesystem::create_directories(paths::folder(file), ec);
    std::string kept;
    {
        std::ifstream in(file, std::ios::binary);
        for (std::string line; std::getline(in, line);)
            if (line.rfind("VELARION_INI=", 0) != 0 && line.rfind("VELARION_OPE=", 0) != 0) kept += line + "\n";
    }
    return atomic_file::write(file, "VELARION_OPE=" + shell_quoted(ope) + "\nVELARION_INI=" + shell_quoted(ini_dir) +
                                        "\n" + kept);
}

}  // namespace velarion::desktop_env
