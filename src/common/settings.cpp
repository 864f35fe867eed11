#include "common/settings.h"

#include <algorithm>
#include <charconv>

#include "platform/file_modes.h"
#include "platform/ini_file.h"
#include "platform/paths.h"
#include "platform/safe_path.h"
#include "platform/text_encoding.h"

namespace velarion {

namespace {
std::string folder_of(const std::string& raw) { return paths::with_separator(paths::native(raw)); }

// Adds the folder of a key to roots, unless the key is empty.
void add_root(std::vector<std::string>& roots, const std::string& raw) {
    const std::string value = text::trim(raw);
    if (!value.empty()) roots.push_back(folder_of(value));
}

// Adds the folders of a ";"-separated list.
void add_roots(std::vector<std::string>& roots, const std::string& list) {
    std::size_t start = 0;
    while (start <= list.size()) {
        const auto end = std::min(list.find(';', start), list.size());
        add_root(roots, list.substr(start, end - start));
        start = end + 1;
    }
}
}  // namespace

std::string outlook_version_of(const std::string& par_generali) {
    if (text::upper(par_generali).find("OUTLOOK") == std::string::npos) return "";
    // The version begins eight characters after the upper-case token; when the
    // token is written in another case its position reads as 0, so the
    // version is taken from the characters 8 to 11 of the text.
    const auto pos = par_generali.find("OUTLOOK");
    const std::size_t start = pos == std::string::npos ? 7 : pos + 8;
    return start < par_generali.size() ? par_generali.substr(start, 4) : "";
}

namespace {

// The problems of derive(): each names the key's line when the file is given.
class KeyProblems {
public:
    KeyProblems(std::vector<FileProblem>& out, const ini::IniContents* from, std::string file)
        : out_(out), from_(from), file_(std::move(file)) {}

    void add(const std::string& section, const std::string& key, const std::string& value, const std::string& what) {
        // Section and key as the file spells them.
        int line = 0;
        std::string where = section, name = key;
        if (const ini::IniSection* s = from_ ? from_->section(section) : nullptr)
            for (const auto& e : s->entries)
                if (text::lower(e.key) == text::lower(key)) line = e.line, name = e.key, where = s->name;
        FileProblem p{file_, line, "[" + where + "] " + name + ": '" + value + "' " + what};
        if (std::find(out_.begin(), out_.end(), p) == out_.end()) out_.push_back(std::move(p));
    }

private:
    std::vector<FileProblem>& out_;
    const ini::IniContents* from_;
    std::string file_;
};

// "smtport": a whole number from 1 to 65535, or none.
SmtpPort smtp_port(const std::string& raw, KeyProblems& problems) {
    SmtpPort port;
    const std::string t = text::trim(raw);
    if (t.empty()) return port;
    int n = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), n);
    if (ec == std::errc() && end == t.data() + t.size() && n >= 1 && n <= 65535) {
        port.number = n;
    } else {
        port.unusable = t;
        problems.add("CDO", "smtport", t, "is not a port from 1 to 65535 (sending through the SMTP component fails)");
    }
    return port;
}

}  // namespace

void Settings::derive(const ini::IniContents* from) {
    problems.clear();
    KeyProblems problem(problems, from, ini_path());

    work_dir = folder_of(op.tempozip_dir);
    spool_dir = folder_of(op.Path);
    has_spool = !op.Path.empty();
    has_work = !op.tempozip_dir.empty();
    const std::string send = text::trim(op.send_dir);
    save_dir = send.empty() ? "" : folder_of(send);
    merge_dir = folder_of(op.unione_DIR);
    logo_dir = op.Dir_Loghi.empty() ? spool_dir + "loghi/" : folder_of(op.Dir_Loghi);
    style_file = logo_dir + "loghi.ini";

    const std::string& par = op.ParGenerali;
    // Without an Outlook token the version stays as it was (a change of
    // operator keeps the one found before).
    outlook = text::upper(par).find("OUTLOOK") != std::string::npos;
    if (outlook) outlook_version = outlook_version_of(par);
    norif = par.find("NORIF") != std::string::npos;
    nolett = par.find("NOLETT") != std::string::npos;
    const auto prep = par.find("PREPARA:");
    prepara = prep != std::string::npos;
    prepare_dir.clear();
    if (prepara) {
        // The folder runs to the next ";" or to the end of the text.
        const auto start = prep + 8;
        const auto end = par.find(';', start);
        prepare_dir = folder_of(par.substr(start, end == std::string::npos ? std::string::npos : end - start));
    }

    read_folders.clear();
    add_roots(read_folders, op.cartelle_lettura);
    copy_folders.clear();
    add_roots(copy_folders, op.cartelle_copia);
    read_roots.clear();
    for (const std::string* key : {&op.Path, &op.tempozip_dir, &op.send_dir, &op.unione_DIR}) add_root(read_roots, *key);
    read_roots.insert(read_roots.end(), read_folders.begin(), read_folders.end());
    copy_roots.clear();
    add_root(copy_roots, op.send_dir);
    if (prepara && prepare_dir != "/") add_root(copy_roots, prepare_dir);  // "PREPARA:;" names no folder
    copy_roots.insert(copy_roots.end(), copy_folders.begin(), copy_folders.end());
    no_copy_roots.clear();
    if (!text::trim(op.Path).empty()) no_copy_roots.push_back(spool_dir + "coda/");
    if (!text::trim(op.Path).empty() || !text::trim(op.Dir_Loghi).empty()) no_copy_roots.push_back(logo_dir);
    for (const std::string* key : {&op.unione_DIR, &op.tempozip_dir}) add_root(no_copy_roots, *key);

    retry = parse_retry_settings(global.retry_delays, global.retry_limit, global.retention_days,
                                 [&](const char* key, const std::string& value, const std::string& what) {
                                     problem.add("GLOBAL", key, value, what);
                                 });
    const long long check = parse_duration(global.size_check);
    size_check_limit = check > 0 ? check : 120;
    if (check <= 0 && !text::trim(global.size_check).empty())
        problem.add("GLOBAL", "controllo_dimensione", text::trim(global.size_check),
                    "is not a duration above 0 such as 90 (minutes), 30s, 15m or 24h (2 minutes are used)");
    const int mask = file_modes::parse_umask(global.umask);
    file_umask = mask >= 0 ? static_cast<unsigned>(mask) : file_modes::kDefaultUmask;
    if (mask < 0 && !text::trim(global.umask).empty())
        problem.add("GLOBAL", "umask", text::trim(global.umask), "is not an octal mode (0077 is used)");
    const std::string metrics = paths::native(text::trim(global.metriche));
    metrics_file = metrics.empty() ? std::nullopt : std::optional<std::string>(metrics);

    const std::string mode = text::upper(op.tipoinvio);
    delivery_mode = mode == "SEMPRE SEND"   ? DeliveryMode::always_send
                    : mode == "SEMPRE SAVE" ? DeliveryMode::always_save
                                            : DeliveryMode::per_message;
    if (!mode.empty() && mode != "SEMPRE SEND" && mode != "SEMPRE SAVE" && mode != "PER MESSAGGIO")
        problem.add(sw.ope, "tipoinvio", op.tipoinvio,
                    "is not PER MESSAGGIO, SEMPRE SEND or SEMPRE SAVE (read as PER MESSAGGIO)");

    const std::string& where = op.ChiaveRegistry;
    mail_client_key = where.empty() || where == "DA PROGRAMMA" || where == "CURRENT USER" ? MailClientKey::current_user
                                                                                          : MailClientKey::local_machine;
    if (!where.empty() && where != "DA PROGRAMMA" && where != "CURRENT USER" && where != "LOCAL MACHINE")
        problem.add(sw.ope, "ChiaveRegistry", where,
                    "is not DA PROGRAMMA, CURRENT USER or LOCAL MACHINE (read as LOCAL MACHINE)");

    smtp.server = op.smtpserver;
    smtp.port = smtp_port(op.smtport, problem);
    smtp.user = op.username;
    smtp.password = op.password;
    smtp.from = op.from;

    // In the order of the file, as someone reading it goes.
    std::stable_sort(problems.begin(), problems.end(),
                     [](const FileProblem& x, const FileProblem& y) { return x.line < y.line; });

    const bool blank = sw.own_credentials;
    account_login = blank ? "" : op.login_email;
    account_password = blank ? "" : op.pwd_email;
}

bool Settings::styles_in_spool() const {
    return !text::trim(op.Path).empty() && safe_path::is_below(style_file, {spool_dir});
}

std::string Settings::ini_path() const {
    const std::string path = paths::native(paths::with_separator(sw.ini)) + "velarion.ini";
    // A file copied from a Windows installation may be named in another case ("VELARION.INI").
    const std::string found = paths::resolve(path);
    return found.empty() ? path : found;
}

std::string read_config(const Settings& settings, const std::string& section, const std::string& key,
                        const std::string& def) {
    return ini::read(section, key, def, settings.ini_path());
}

}  // namespace velarion
