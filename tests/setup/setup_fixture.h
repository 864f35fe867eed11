// An installation for the settings dialogs: velarion.ini in a temporary
// configuration directory, operator AB loaded by Leggi_Param_Utenti, and the
// context the dialogs are lent (its re-read is Leggi_Param_Utenti too).
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "setup/setup_context.h"
#include "startup/user_params.h"
#include "support/test_support.h"

namespace velarion::testing {

struct SetupInstall {
    TempDir dir;
    TestContext t;
    int reloads = 0;

    explicit SetupInstall(const std::string& ini) {
        write_file(ini_path(), ini);
        t.cfg.sw.ini = dir.path();
        t.cfg.sw.ope = "AB";
        t.cfg.host.program_dir = "/opt/velarion/";
        t.cfg.host.documents_dir = dir / "docs";
        Leggi_Param_Utenti(t.agent);
    }
    std::string ini_path() const { return dir / "velarion.ini"; }
    std::string ini() const { return read_file(ini_path()); }
    // The lines of velarion.ini that hold something (the blank lines between
    // sections are the INI writer's layout).
    std::vector<std::string> ini_lines() const {
        std::vector<std::string> out;
        std::istringstream in(ini());
        for (std::string line; std::getline(in, line);)
            if (!line.empty()) out.push_back(line);
        return out;
    }
    SetupContext context() {
        return SetupContext{t.rt, t.cfg, [this] {
                                ++reloads;
                                Leggi_Param_Utenti(t.agent);
                            }};
    }
};

}  // namespace velarion::testing
