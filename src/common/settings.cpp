#include "common/settings.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>

#include "platform/os/file_modes.h"
#include "platform/os/ini_file.h"
#include "platform/os/paths.h"
#include "platform/os/safe_path.h"
#include "platform/os/text_encoding.h"
#include "platform/os/text_list.h"

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
    for (const auto& entry : text::entries(list, ';')) add_root(roots, entry);
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

// A whole number of seconds from low to high ("" for none, -1 for a text
// that is no whole number of at most nine digits, 0 or more for the number).
long long seconds_of(const std::string& t) {
    if (t.empty()) return -2;
    if (t.size() > 9 || t.find_first_not_of("0123456789") != std::string::npos) return -1;
    return std::stoll(t);
}

// "Timing": a whole number of milliseconds above 0; otherwise why not, as
// the load step that needs it reports it.
std::optional<int> timer_interval_of(const std::string& raw, std::string& error) {
    const std::string t = text::trim(raw);
    char* end = nullptr;
    errno = 0;
    const long v = t.empty() ? 0 : std::strtol(t.c_str(), &end, 10);
    if (t.empty() || *end != '\0')
        error = "Tipo non corrispondente (GLOBAL Timing=\"" + raw + "\")";
    else if (errno == ERANGE || v > INT_MAX)
        error = "Overflow (GLOBAL Timing=\"" + raw + "\")";
    // A timer needs a positive interval: 0 would never tick and a negative one is refused.
    else if (v <= 0)
        error = "Valore della proprieta' non valido (GLOBAL Timing=\"" + raw + "\")";
    else
        return static_cast<int>(v);
    return std::nullopt;
}

// A whole number from 1 to high written in the key, else fallback (a key
// written with anything else is one of the problems).
long long bounded_number(const std::string& raw, long long high, long long fallback, const char* key, const char* unit,
                         KeyProblems& problem) {
    const std::string t = text::trim(raw);
    const long long n = seconds_of(t);
    if (n >= 1 && n <= high) return n;
    if (!t.empty())
        problem.add("GLOBAL", key, t,
                    "is not a whole number of " + std::string(unit) + " from 1 to " + std::to_string(high) + " (" +
                        std::to_string(fallback) + " are used)");
    return fallback;
}

// The bounds on the invoice XML, the pages of a document and the bytes of a message.
void derive_limits(Settings& s, KeyProblems& problem) {
    s.invoice_max_bytes =
        static_cast<std::uint64_t>(bounded_number(s.global.fattura_max_mb, 1024, 10, "fattura_max_mb", "megabytes", problem))
        << 20;
    s.max_pages = static_cast<long>(bounded_number(s.global.pagine_max, 100'000'000, 250'000, "pagine_max", "pages", problem));
    s.message_max_bytes = static_cast<std::uint64_t>(bounded_number(s.global.messaggio_max_mb, 1'048'576, 1024,
                                                                    "messaggio_max_mb", "megabytes", problem))
                          << 20;
}

const std::array<const char*, 4> kSupportDepartments = {"assistenza", "tecnico", "commerciale", "amministrazione"};

}  // namespace

std::string key_of(const ini::IniContents& file, const std::string& section, const std::string& key) {
    const ini::IniSection* s = file.section(section);
    if (!s) return "";
    for (const auto& e : s->entries)
        if (text::lower(e.key) == text::lower(key)) return e.value;
    return "";
}

GlobalKeys global_keys_of(const ini::IniContents& file) {
    const auto key = [&](const char* name) { return key_of(file, "GLOBAL", name); };
    GlobalKeys g;
    g.retry_delays = key("retry_delays");
    g.retry_limit = key("retry_limit");
    g.retention_days = key("retention_days");
    g.size_check = key("controllo_dimensione");
    g.umask = key("umask");
    g.metriche = key("metriche");
    g.timing = key("Timing");
    g.fax_gateway = key("fax_gateway");
    g.smtp_attesa_dati = key("smtp_attesa_dati");
    g.fattura_max_mb = key("fattura_max_mb");
    g.pagine_max = key("pagine_max");
    g.messaggio_max_mb = key("messaggio_max_mb");
    return g;
}

MailKeys mail_keys_of(const ini::IniContents& file) {
    MailKeys m;
    m.client = key_of(file, "MAPI", "client");
    m.store = key_of(file, "MAPI", "store");
    m.drafts = key_of(file, "MAPI", "drafts");
    m.transport = key_of(file, "MAPI", "transport");
    m.senza_ricevuta = key_of(file, "MAPI", "senza_ricevuta");
    m.cdo_timeout = key_of(file, "CDO", "timeout");
    m.in_chiaro = key_of(file, "TLS", "in_chiaro");
    m.ca_extra = key_of(file, "TLS", "ca_extra");
    m.indirizzi_locali = key_of(file, "TLS", "indirizzi_locali");
    m.token_url = key_of(file, "OAUTH2", "token_url");
    m.client_id = key_of(file, "OAUTH2", "client_id");
    m.client_secret = key_of(file, "OAUTH2", "client_secret");
    m.client_secret_file = key_of(file, "OAUTH2", "client_secret_file");
    m.refresh_token = key_of(file, "OAUTH2", "refresh_token");
    m.refresh_token_file = key_of(file, "OAUTH2", "refresh_token_file");
    m.scope = key_of(file, "OAUTH2", "scope");
    for (std::size_t i = 0; i < m.reparto.size(); ++i)
        m.reparto[i] = key_of(file, "ASSISTENZA", "reparto" + std::to_string(i + 1));
    m.dominio = key_of(file, "ASSISTENZA", "dominio");
    m.dsn = {key_of(file, "DSN", "notifica"), key_of(file, "DSN", "casella"), key_of(file, "DSN", "giorni"),
             key_of(file, "DSN", "su_rifiuto")};
    return m;
}

namespace {

// The values of the mail sections, "Timing", "fax_gateway" and
// "smtp_attesa_dati".
void derive_mail(Settings& s, KeyProblems& problem) {
    s.timing_error.clear();
    s.timer_interval = timer_interval_of(s.global.timing, s.timing_error);
    // A missing "Timing" stops the load step, which says so; a written one
    // that is no interval is also one of the problems.
    if (!s.timer_interval && !text::trim(s.global.timing).empty())
        problem.add("GLOBAL", "Timing", text::trim(s.global.timing),
                    "is not a whole number of milliseconds above 0 (the agent cannot start)");

    s.fax_gateway = text::trim(s.global.fax_gateway);
    if (s.fax_gateway.empty()) s.fax_gateway = "fax";

    const std::string wait = text::trim(s.global.smtp_attesa_dati);
    const long long wait_s = seconds_of(wait);
    s.smtp_data_wait = wait_s >= 1 && wait_s <= 86400 ? static_cast<int>(wait_s) : 600;
    if (!wait.empty() && (wait_s < 1 || wait_s > 86400))
        problem.add("GLOBAL", "smtp_attesa_dati", wait,
                    "is not a whole number of seconds from 1 to 86400 (600 are used)");

    derive_limits(s, problem);

    const std::string timeout = text::trim(s.mail.cdo_timeout);
    const long long timeout_s = seconds_of(timeout);
    s.smtp_timeout = timeout_s >= 1 ? static_cast<int>(std::min(timeout_s, 60LL)) : 30;
    if (!timeout.empty() && timeout_s < 1)
        problem.add("CDO", "timeout", timeout, "is not a whole number of seconds from 1 to 60 (30 are used)");

    // At most 254 characters, as the registry value it stands for.
    s.mapi.client = s.mail.client.substr(0, 254);
    s.mapi.store = s.mail.store;
    s.mapi.drafts = s.mail.drafts.empty() ? "Drafts" : s.mail.drafts;
    s.mapi.transport = s.mail.transport.empty() ? "sendmail://localhost" : s.mail.transport;
    s.mapi.no_receipt = text::lower(text::trim(s.mail.senza_ricevuta));
    s.dsn = parse_dsn_settings(s.mail.dsn, [&](const std::string& key, const std::string& value,
                                               const std::string& what) { problem.add("DSN", key, value, what); });

    const std::string plain = text::lower(text::trim(s.mail.in_chiaro));
    s.tls.allow_plain = plain == "y";
    if (!plain.empty() && plain != "y" && plain != "n")
        problem.add("TLS", "in_chiaro", text::trim(s.mail.in_chiaro), "is not Y or N (read as N)");
    s.tls.extra_ca = paths::native(text::trim(s.mail.ca_extra));
    s.tls.local_addresses = text::entries(s.mail.indirizzi_locali, ';');

    s.oauth.token_url = text::trim(s.mail.token_url);
    s.oauth.client_id = text::trim(s.mail.client_id);
    s.oauth.client_secret = text::trim(s.mail.client_secret);
    s.oauth.client_secret_file = paths::native(text::trim(s.mail.client_secret_file));
    s.oauth.refresh_token = text::trim(s.mail.refresh_token);
    s.oauth.refresh_token_file = paths::native(text::trim(s.mail.refresh_token_file));
    s.oauth.scope = text::trim(s.mail.scope);

    for (std::size_t i = 0; i < s.support_departments.size(); ++i) {
        const std::string name = text::trim(s.mail.reparto[i]);
        s.support_departments[i] = name.empty() ? kSupportDepartments[i] : name;
    }
    s.support_domain = text::trim(s.mail.dominio);
    if (s.support_domain.empty()) s.support_domain = "@korvantech.it";
    // The mailbox name and the domain are joined as they are: the domain carries the "@".
    if (s.support_domain[0] != '@') s.support_domain.insert(0, "@");
}

}  // namespace

void Settings::derive(const ini::IniContents* from) {
    problems.clear();
    KeyProblems problem(problems, from, ini_path());

    work_dir = folder_of(op.tempozip_dir);
    spool_dir = folder_of(op.Path);
    has_spool = !op.Path.empty();
    has_work = !op.tempozip_dir.empty();
    spool_key = op.Path;
    logo_key = op.Dir_Loghi;
    work_key = op.tempozip_dir;
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
    derive_mail(*this, problem);

    // In the order of the file, as someone reading it goes.
    std::stable_sort(problems.begin(), problems.end(),
                     [](const FileProblem& x, const FileProblem& y) { return x.line < y.line; });

    const bool blank = sw.own_credentials;
    account_login = blank ? "" : op.login_email;
    account_password = blank ? "" : op.pwd_email;
    const auto is_address = [](const std::string& s) { return s.find('@') != std::string::npos; };
    sender = is_address(op.EMailAddr) ? text::trim(op.EMailAddr)
             : is_address(op.login_email) ? text::trim(op.login_email)
                                          : "";
}

void Settings::load_shared_keys(const ini::IniContents& file) {
    global = global_keys_of(file);
    mail = mail_keys_of(file);
    derive(&file);
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

}  // namespace velarion
