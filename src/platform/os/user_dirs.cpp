#include "platform/os/user_dirs.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/os/process.h"

namespace velarion::user_dirs {

namespace {
std::string home_dir() {
    const char* home = std::getenv("HOME");
    if (home && *home) return home;
    if (const passwd* pw = getpwuid(getuid())) return pw->pw_dir ? pw->pw_dir : "";
    return "";
}

std::string strip_slashes(std::string s) {
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}
}  // namespace

std::string documents_dir() {
    const std::string home = home_dir();
    if (auto out = process::run_capture({"xdg-user-dir", "DOCUMENTS"})) {
        std::string dir = *out;
        while (!dir.empty() && (dir.back() == '\n' || dir.back() == '\r')) dir.pop_back();
        // xdg-user-dir answers the home folder itself when no documents folder is set.
        if (!dir.empty() && dir[0] == '/' && strip_slashes(dir) != strip_slashes(home)) return dir;
    }
    return home.empty() ? "" : home + "/Documents";
}

std::string login_name() {
    // getlogin() needs a terminal; a service has none, so the account name serves.
    std::vector<char> buf(256);
    if (getlogin_r(buf.data(), buf.size()) == 0 && buf[0] != '\0') return buf.data();
    if (const passwd* pw = getpwuid(geteuid())) return pw->pw_name ? pw->pw_name : "";
    const char* user = std::getenv("USER");
    return user ? user : "";
}

}  // namespace velarion::user_dirs
