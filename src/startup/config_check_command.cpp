#include "startup/config_check_command.h"

#include <cstdio>
#include <vector>

#include "common/null_view.h"
#include "common/retry_settings.h"
#include "layout/style.h"
#include "platform/clock.h"
#include "platform/file_modes.h"
#include "platform/ini_file.h"
#include "platform/mail.h"
#include "platform/paths.h"
#include "platform/secret_text.h"
#include "platform/text_encoding.h"
#include "startup/agent.h"
#include "startup/command_agent.h"
#include "startup/command_line.h"
#include "startup/user_params.h"

namespace velarion {

namespace {

class Report {
public:
    explicit Report(std::string ini) : ini_(std::move(ini)) {}
    // A problem of velarion.ini: "<ini>: [SECTION] key: text".
    void key(const std::string& section, const std::string& key, const std::string& text) {
        line(ini_ + ": [" + section + "] " + key + ": " + text);
    }
    void line(const std::string& cp1252) {
        const std::string out = text::cp1252_to_utf8(cp1252) + "\n";
        std::fwrite(out.data(), 1, out.size(), stdout);
        ++count_;
    }
    int count() const { return count_; }

private:
    std::string ini_;
    int count_ = 0;
};

// A folder the agent reads (must exist) or writes in (must also be writable).
void folder(Report& r, const std::string& section, const std::string& key, const std::string& path, bool write) {
    if (path.empty()) return;
    if (!paths::is_folder(path))
        r.key(section, key, "la cartella " + path + " non esiste");
    else if (write && !paths::writable_folder(path))
        r.key(section, key, "la cartella " + path + " non e' scrivibile");
}

// Each folder of a ";"-separated list.
void folders(Report& r, const std::string& section, const std::string& key, const std::string& list, bool write) {
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t stop = std::min(list.find(';', start), list.size());
        const std::string one = text::trim(list.substr(start, stop - start));
        if (!one.empty()) folder(r, section, key, paths::native(one), write);
        start = stop + 1;
    }
}

void duration(Report& r, const std::string& key, const std::string& value) {
    if (!text::trim(value).empty() && parse_duration(value) < 0)
        r.key("GLOBAL", key, "'" + value + "' non e' una durata (minuti, o un numero seguito da s, m, h)");
}

void global_keys(Report& r, const GlobalSettings& g) {
    if (!text::trim(g.retry_delays).empty()) {
        std::size_t start = 0;
        while (start <= g.retry_delays.size()) {
            const std::size_t stop = std::min(g.retry_delays.find(',', start), g.retry_delays.size());
            const std::string one = g.retry_delays.substr(start, stop - start);
            if (parse_duration(one) <= 0) {
                r.key("GLOBAL", "retry_delays", "'" + text::trim(one) + "' non e' una durata");
                break;
            }
            start = stop + 1;
        }
    }
    duration(r, "retry_limit", g.retry_limit);
    duration(r, "controllo_dimensione", g.size_check);
    const std::string days = text::trim(g.retention_days);
    if (!days.empty() && (days.find_first_not_of("0123456789") != std::string::npos || days.size() > 6))
        r.key("GLOBAL", "retention_days", "'" + days + "' non e' un numero di giorni");
    if (!text::trim(g.umask).empty() && file_modes::parse_umask(g.umask) < 0)
        r.key("GLOBAL", "umask", "'" + g.umask + "' non e' una maschera ottale");
}

void mail_urls(Report& r, const Settings& s) {
    for (const char* key : {"store", "transport"}) {
        const std::string url = text::trim(read_config(s, "MAPI", key));
        if (url.empty()) continue;
        if (const std::string why = mail::url_problem(url); !why.empty())
            r.key("MAPI", key, text::hide_secrets(url, {}) + ": " + why);
    }
}

// Every section of loghi.ini through the typed loader, each problem as
// "file:line text".
void styles(Report& r, Agent& a) {
    const std::string& path = a.settings.style_file;
    if (!paths::exists(path)) {
        r.line(path + ": il file degli stili non esiste");
        return;
    }
    StyleFile file;
    const ini::IniContents& contents = file.contents(path);
    if (!contents.read) {
        r.line(path + ": il file degli stili non si puo' leggere");
        return;
    }
    std::vector<std::string> names;
    for (const auto& section : contents.sections) names.push_back(section.name);
    for (const auto& name : names) file.section(a.rt, name);
    for (const auto& p : file.problems()) r.line(p.message());
}

}  // namespace

int run_config_check(const std::string& command_line) {
    CommandAgent command(command_line);
    Agent& a = command.agent();
    Switches& sw = a.settings.sw;
    if (sw.ope.empty()) {
        std::fputs(usage_line().c_str(), stderr);
        return 2;
    }
    Report r(a.settings.ini_path());
    if (!paths::exists(a.settings.ini_path())) {
        r.line(a.settings.ini_path() + ": Impossibile accedere al file");
        return 1;
    }
    Leggi_Param_Utenti(a);
    const Settings& s = a.settings;
    const OperatorSettings& op = s.op;
    const std::string section = sw.ope;
    if (op.Path.empty()) {
        r.key(section, "Path", "nessuna cartella di spool per l'operatore " + sw.ope);
    } else {
        folder(r, section, "Path", s.spool_dir, true);
    }
    if (op.tempozip_dir.empty())
        r.key(section, "tempozip_dir", "nessuna cartella di lavoro per l'operatore " + sw.ope);
    else
        folder(r, section, "tempozip_dir", s.work_dir, true);
    folder(r, section, "send_dir", op.send_dir.empty() ? "" : paths::native(op.send_dir), true);
    folder(r, section, "Dir_Loghi", op.Dir_Loghi.empty() ? "" : s.logo_dir, false);
    folder(r, section, "unione_DIR", op.unione_DIR.empty() ? "" : paths::native(op.unione_DIR), false);
    if (s.prepara) folder(r, section, "ParGenerali", s.prepare_dir, true);
    folders(r, "PERCORSI", "cartelle_lettura", op.cartelle_lettura, false);
    folders(r, "PERCORSI", "cartelle_copia", op.cartelle_copia, true);
    global_keys(r, s.global);
    if (!s.global.metrics_path.empty())
        folder(r, "GLOBAL", "metriche", paths::folder(s.global.metrics_path).empty() ? "." : paths::folder(s.global.metrics_path), true);
    mail_urls(r, s);
    styles(r, a);
    return r.count() > 0 ? 1 : 0;
}

}  // namespace velarion
