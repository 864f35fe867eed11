#include "startup/config_check_command.h"

#include <sys/stat.h>

#include <cstdio>
#include <vector>

#include "common/null_view.h"
#include "layout/overlay_support.h"
#include "layout/style.h"
#include "platform/os/clock.h"
#include "platform/os/ini_file.h"
#include "platform/mail/mail.h"
#include "platform/os/paths.h"
#include "platform/os/secret_text.h"
#include "platform/os/text_encoding.h"
#include "startup/agent.h"
#include "startup/command_agent.h"
#include "common/file_problem.h"
#include "startup/command_line.h"
#include "startup/queue_report.h"
#include "startup/user_params.h"

namespace velarion {

namespace {

class Report {
public:
    explicit Report(std::string ini) : ini_(std::move(ini)) {}
    // velarion.ini as read, for the lines of its keys.
    void read_lines() { contents_ = ini::read_all(ini_); }
    const ini::IniContents& contents() const { return contents_; }
    // A problem of velarion.ini: "<ini>:<line> [SECTION] key: text", the
    // line of the key when it is written there, else "<ini>: [SECTION] key: text".
    void key(const std::string& section, const std::string& key, const std::string& text) {
        int at = 0;
        if (const ini::IniSection* sec = contents_.section(section))
            for (const auto& e : sec->entries)
                if (text::upper(e.key) == text::upper(key)) at = e.line;
        line(ini_ + (at > 0 ? ":" + std::to_string(at) : std::string(":")) + " [" + section + "] " + key + ": " + text);
    }
    void line(const std::string& cp1252) {
        const std::string out = text::cp1252_to_utf8(cp1252) + "\n";
        std::fwrite(out.data(), 1, out.size(), stdout);
        ++count_;
    }
    int count() const { return count_; }

private:
    std::string ini_;
    ini::IniContents contents_;
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

void mail_urls(Report& r, const Settings& s) {
    for (const auto& [key, raw] : {std::pair<const char*, std::string>{"store", s.mail.store}, {"transport", s.mail.transport}}) {
        const std::string url = text::trim(raw);
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
    const ini::IniContents& contents = file.contents(a.rt);
    if (!contents.read) {
        r.line(path + ": il file degli stili non si puo' leggere");
        return;
    }
    std::vector<std::string> names;
    for (const auto& section : contents.sections) names.push_back(section.name);
    for (const auto& name : names) file.section(a.rt, name);
    for (const auto& p : file.problems()) r.line(p.message());
    // The logo pictures the styles name ("file": <file>.jpg in the logo folder),
    // from a reading of its own (the loader's cache may have moved on),
    // through the confined open as the loader's.
    const ini::IniContents again = ini::read_all(overlay::OpenStyleFile(a.rt, path));
    for (const auto& section : again.sections)
        for (const auto& e : section.entries) {
            if (text::upper(e.key) != "FILE" || text::trim(e.value).empty()) continue;
            const std::string picture = a.settings.logo_dir + text::trim(e.value) + ".jpg";
            if (!paths::exists(picture))
                r.line(FileProblem{path, e.line, "[" + section.name + "] file: logo picture " + picture + " not found"}.message());
        }
}

// The metrics file: an absolute path (the service's working folder is "/"),
// in a folder the agent may write, and no folder or special file in its place.
void metrics(Report& r, const Settings& s) {
    if (!s.metrics_file) return;
    const std::string& given = *s.metrics_file;
    if (given.empty() || given[0] != '/') {
        r.key("GLOBAL", "metriche", given + ": il percorso deve essere assoluto");
        return;
    }
    const std::string target = metrics_path(given, s.sw.ope);
    const std::string dir = paths::folder(target);
    if (!paths::is_folder(dir)) {
        r.key("GLOBAL", "metriche", "la cartella " + dir + " non esiste");
        return;
    }
    if (!paths::writable_folder(dir)) {
        r.key("GLOBAL", "metriche", "la cartella " + dir + " non e' scrivibile");
        return;
    }
    struct stat st {};
    if (::lstat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        r.key("GLOBAL", "metriche", target + " non e' un file");
}

}  // namespace

int run_config_check(const std::string& command_line) {
    CommandAgent command(command_line);
    Agent& a = command.agent();
    Switches& sw = a.settings.sw;
    Report r(a.settings.ini_path());
    if (const auto status = command.load([&](const std::string& ini) { r.line(ini + ": Impossibile accedere al file"); }))
        return *status;
    const Settings& s = a.settings;
    const std::string section = sw.ope;
    r.read_lines();
    // An operator without a section: its folders and styles are not there to check.
    if (sw.ope != "TUTTI" && r.contents().read && !r.contents().section(section)) {
        r.line(a.settings.ini_path() + ": [" + section + "]: l'operatore " + section +
               " non ha una sezione in velarion.ini");
        return 1;
    }
    // The keys whose text could not be used, as "file:line [SECTION] key: ...".
    for (const auto& p : s.problems) r.line(p.message());
    // A missing "Timing" stops the load step with this text (a written but
    // unusable one is among the problems above).
    if (!s.timer_interval && text::trim(s.global.timing).empty()) r.key("GLOBAL", "Timing", s.timing_error);
    if (!s.has_spool) {
        r.key(section, "Path", "nessuna cartella di spool per l'operatore " + sw.ope);
    } else {
        folder(r, section, "Path", s.spool_dir, true);
    }
    if (!s.has_work)
        r.key(section, "tempozip_dir", "nessuna cartella di lavoro per l'operatore " + sw.ope);
    else
        folder(r, section, "tempozip_dir", s.work_dir, true);
    folder(r, section, "send_dir", s.save_dir, true);
    folder(r, section, "Dir_Loghi", s.op.Dir_Loghi.empty() ? "" : s.logo_dir, false);
    folder(r, section, "unione_DIR", s.op.unione_DIR.empty() ? "" : s.merge_dir, false);
    if (s.prepara) folder(r, section, "ParGenerali", s.prepare_dir, true);
    for (const auto& f : s.read_folders) folder(r, "PERCORSI", "cartelle_lettura", f, false);
    for (const auto& f : s.copy_folders) folder(r, "PERCORSI", "cartelle_copia", f, true);
    metrics(r, s);
    mail_urls(r, s);
    styles(r, a);
    return r.count() > 0 ? 1 : 0;
}

}  // namespace velarion
