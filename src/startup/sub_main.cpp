#include "startup/sub_main.h"

#include <cstdlib>

#include "platform/pdf/font_files.h"
#include "platform/os/paths.h"
#include "platform/os/registry.h"
#include "platform/os/text_encoding.h"
#include "platform/os/user_dirs.h"
#include "startup/agent.h"
#include "startup/command_line.h"

namespace velarion {

namespace {
// A conversion to a single-precision number that fails unless the whole text is a number.
bool converts(const char* text) {
    char* end = nullptr;
    (void)std::strtof(text, &end);
    return end != text && *end == '\0';
}
}  // namespace

std::string decimal_separator_test() {
    std::string sep;
    if (!converts(",00")) sep = ".";
    if (!converts(".00")) sep = ",";
    return sep;
}

bool condensed_font_present(const std::string& system_root, const std::string& program_dir) {
    const std::string name = "Mnc57__a.ttf";
    if (!system_root.empty() && paths::exists(paths::with_separator(system_root) + "fonts/" + name)) return true;
    return !font_files::find(name, program_dir).empty();
}

void Sub_Main(Agent& a, const std::vector<std::string>& args) {
    // Command line: "plus:" and "cdo:".
    apply_main_switches(a.settings.sw, args);

    // Decimal separator.
    a.settings.host.decimal_separator = decimal_separator_test();

    // Host system.
    using registry::Hive;
    const std::string key = "Software\\Microsoft\\Windows\\CurrentVersion";
    const std::string key_nt = "Software\\Microsoft\\Windows NT\\CurrentVersion";
    a.settings.host.system_root = registry::read(Hive::LocalMachine, key, "SystemRoot", "");
    a.settings.host.product_name = registry::read(Hive::LocalMachine, key, "ProductName", "");
    if (a.settings.host.product_name.empty()) {
        a.settings.host.system_root = registry::read(Hive::LocalMachine, key_nt, "SystemRoot", "");
        a.settings.host.product_name = registry::read(Hive::LocalMachine, key_nt, "ProductName", "");
    }

    // Condensed font.
    a.settings.host.program_dir = paths::program_dir();
    a.settings.host.condensed_font = condensed_font_present(a.settings.host.system_root, a.settings.host.program_dir);

    // The file-system object is std::filesystem; the documents folder is
    // looked up once here for the load step.
    a.settings.host.documents_dir = user_dirs::documents_dir();
}

}  // namespace velarion
