#include "common/settings.h"

#include <algorithm>

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

void Settings::derive() {
    work_dir = folder_of(op.tempozip_dir);
    spool_dir = folder_of(op.Path);
    logo_dir = op.Dir_Loghi.empty() ? spool_dir + "loghi/" : folder_of(op.Dir_Loghi);
    style_file = logo_dir + "loghi.ini";

    const std::string& par = op.ParGenerali;
    // Without an Outlook token the version stays as it was (a change of
    // operator keeps the one found before).
    if (text::upper(par).find("OUTLOOK") != std::string::npos) outlook_version = outlook_version_of(par);
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

    read_roots.clear();
    for (const std::string* key : {&op.Path, &op.tempozip_dir, &op.send_dir, &op.unione_DIR}) add_root(read_roots, *key);
    add_roots(read_roots, op.cartelle_lettura);
    copy_roots.clear();
    add_root(copy_roots, op.send_dir);
    if (prepara && prepare_dir != "/") add_root(copy_roots, prepare_dir);  // "PREPARA:;" names no folder
    add_roots(copy_roots, op.cartelle_copia);
    no_copy_roots.clear();
    if (!text::trim(op.Path).empty()) no_copy_roots.push_back(spool_dir + "coda/");
    if (!text::trim(op.Path).empty() || !text::trim(op.Dir_Loghi).empty()) no_copy_roots.push_back(logo_dir);
    for (const std::string* key : {&op.unione_DIR, &op.tempozip_dir}) add_root(no_copy_roots, *key);

    retry = parse_retry_settings(global.retry_delays, global.retry_limit, global.retention_days);
    const long long check = parse_duration(global.size_check);
    size_check_limit = check > 0 ? check : 120;
    const int mask = file_modes::parse_umask(global.umask);
    file_umask = mask >= 0 ? static_cast<unsigned>(mask) : file_modes::kDefaultUmask;

    const std::string mode = text::upper(op.tipoinvio);
    delivery_mode = mode == "SEMPRE SEND"   ? DeliveryMode::always_send
                    : mode == "SEMPRE SAVE" ? DeliveryMode::always_save
                                            : DeliveryMode::per_message;

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
