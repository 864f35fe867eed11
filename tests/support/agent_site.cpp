#include "support/agent_site.h"

#include <filesystem>

#include "support/spool_state.h"

namespace fs = std::filesystem;

namespace velarion::testing {

AgentSite::AgentSite() {
    for (const auto& d : {spool, work, root / "loghi", root / "run"}) fs::create_directories(d);
    write_file(root / "loghi/loghi.ini", "[TABULATO]\nforzatura=o\n");
}

void AgentSite::configure(const std::string& global, const std::string& sections,
                          const std::string& operator_keys) const {
    write_file(cfg + "velarion.ini", "[AB]\n" + operator_keys + "Path=" + spool + "\nDir_Loghi=" + root / "loghi/" +
                                         "\ntempozip_dir=" + work + "\n[GLOBAL]\nTiming=100\n" + global + sections);
}

std::vector<std::string> AgentSite::env(const std::vector<std::string>& extra) const {
    std::vector<std::string> e{"HOME=" + root / "home", "XDG_RUNTIME_DIR=" + root / "run",
                               "XDG_CONFIG_HOME=" + root / "config"};
    e.insert(e.end(), extra.begin(), extra.end());
    return e;
}

std::vector<std::string> AgentSite::args(const std::vector<std::string>& extra) const {
    std::vector<std::string> a{std::string(VELARION_BIN_DIR) + "/velarion", "--headless", "ini:" + cfg, "ope:AB"};
    a.insert(a.end(), extra.begin(), extra.end());
    return a;
}

ProcessResult AgentSite::once() const { return run_program(args({"--once"}), env()); }

void AgentSite::message(const std::string& base, const std::string& to, const std::string& option,
                        const std::string& from) const {
    write_file(spool + base + ".h", "RF" + base + "\r\n\r\n" + from + "\r\n" + to + "\r\nMessaggio " + base +
                                        "\r\n.\r\n" + option + "\r\n");
    write_file(spool + base + ".b", "Testo di " + base + "\r\n");
    write_file(spool + base + ".T", "");
}

std::map<std::string, int> AgentSite::drafts() const { return drafts_by_recipient(posta); }

std::vector<std::string> AgentSite::parked() const { return parked_folders(work); }

int AgentSite::waiting() const { return waiting_messages(spool); }

std::string AgentSite::log() const {
    std::string all;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(work + "log", ec)) all += read_file(e.path().string());
    return all;
}

}  // namespace velarion::testing
