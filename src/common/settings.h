// The loaded settings: command-line switches, host facts, the operator's keys
// of velarion.ini, the PDF component flags, and the values derived from them.
// Start-up fills and derives them; every other routine reads them through a
// const reference.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/file_problem.h"
#include "common/dsn_settings.h"
#include "common/retry_settings.h"

namespace velarion::ini {
struct IniContents;
}

namespace velarion {

// The ten keyword switches of the command line, with their start values.
struct Switches {
    // The command line's values are read once, where it is parsed
    // (startup/command_line.cpp); these are what they mean.
    bool second_instance = false;  // "plus:Y" (any case): a second agent of the same user may run
    bool smtp_component = false;   // "cdo:Y" (any case): delivery through the SMTP component
    std::string ope;               // "ope:" operator code
    std::string ope2;              // "ope:" second operator code (after ";")
    bool debug_traces = false;     // "deb:Y" (any case): trace messages
    std::string ini;               // "ini:" configuration directory
    bool aix = false;              // "so:AIX" (any case): the business application runs on AIX
    bool run_at_start = true;      // "run:y" exactly (the default); any other value leaves the agent off
    bool fax_label = false;        // "fax:PRO" (any case): the fax label is shown
    bool own_credentials = false;  // "acc:Y" (any case): the transport signs on with the store's own account
    bool internal_client = true;   // "int:Y" (any case, the default): the mail client is internal
    bool ini_given = false;        // "ini:" appeared on the command line

    bool debug() const { return debug_traces; }
};

// Facts about the host, found at start-up.
struct HostInfo {
    std::string decimal_separator;  // "", "." or ","
    std::string system_root;
    std::string product_name;
    // "Mnc57__a.ttf" found; unset until looked for: the agent looks at
    // start-up (its window shows it), the composer when a print type needs it.
    std::optional<bool> condensed_font;
    std::string user_name;
    std::string program_dir;    // with trailing "/"
    std::string documents_dir;  // the user's documents folder
    std::string mail_client;    // caption of lblclientMAPI (mail client name, " (Int)"), set by the load step
    bool unattended = false;    // --headless: nobody sees a window, so nothing switches the agent off
};

// PDF component flags set by controllo_dll.
struct PdfComponents {
    bool ocx_edition = false;
    bool xp_edition = false;
    bool merge = false;
};

// The operator's keys of velarion.ini (and those of "CDO" and "PERCORSI") as
// written there: what the settings dialogs show, edit and write back, and what
// derive() makes the typed values below from. No other routine reads them.
struct OperatorKeys {
    std::string pwd_Operatore;
    std::string login_email;
    std::string pwd_email;
    std::string EMailAddr;
    std::string Path;
    std::string send_dir;
    std::string tempozip_dir;
    std::string Dir_Loghi;
    std::string smtpserver;
    std::string username;
    std::string password;
    std::string smtport;
    std::string from;
    std::string tipoinvio;
    std::string ParGenerali;
    std::string unione_DIR;
    std::string ChiaveRegistry;
    // Section "PERCORSI": more folders, separated by ";", that spool input
    // may read below ("cartelle_lettura") and the only folders "CREAFILE:"
    // and "dircopy" may write below ("cartelle_copia").
    std::string cartelle_lettura;
    std::string cartelle_copia;
};

// "tipoinvio": how a message's delivery option is decided.
enum class DeliveryMode {
    per_message,  // "PER MESSAGGIO", empty or anything else: header line 7 stands
    always_send,  // "SEMPRE SEND": "SEND", or "SAVE" when line 4 holds no address
    always_save,  // "SEMPRE SAVE"
};

// "ChiaveRegistry": where the mail client's name is looked up first.
enum class MailClientKey {
    current_user,   // "DA PROGRAMMA", "CURRENT USER" or empty: the user's, then the machine's
    local_machine,  // "LOCAL MACHINE" (and anything else): the machine's only
};

// Keys of section "GLOBAL" besides "Timing" as written, loaded with the
// operator's keys and made into values by derive().
struct GlobalKeys {
    std::string retry_delays;    // waits between tries of an undelivered message
    std::string retry_limit;     // how long a temporary failure is tried before the message is parked
    std::string retention_days;  // days the copies below "non_copiati" are kept
    std::string size_check;      // "controllo_dimensione": how long a ".0" may keep changing
    std::string umask;           // "umask": octal mode bits taken from every file the agent makes
    std::string metriche;        // "metriche": the Prometheus text file written every minute
    std::string timing;          // "Timing": the spool timer's interval in milliseconds
    std::string fax_gateway;     // "fax_gateway": the fax gateway's host in recipient addresses
    std::string smtp_attesa_dati;  // seconds every SMTP path waits for the answer to a message's data
    std::string fattura_max_mb;    // megabytes an invoice XML ("///X") may have
    std::string pagine_max;        // pages a composed document may have
    std::string messaggio_max_mb;  // megabytes the files a message carries may have together
};

// The keys of the mail sections as written: "MAPI", "TLS", "OAUTH2",
// "ASSISTENZA" and "timeout" of "CDO". Loaded with the operator's keys and
// made into values by derive(); the CDO dialog writes the "OAUTH2" ones.
struct MailKeys {
    std::string client, store, drafts, transport, senza_ricevuta;  // "MAPI"
    std::string cdo_timeout;                                       // "timeout" of "CDO"
    std::string in_chiaro, ca_extra, indirizzi_locali;             // "TLS"
    std::string token_url, client_id, client_secret, client_secret_file, refresh_token,
        refresh_token_file, scope;                                 // "OAUTH2"
    std::array<std::string, 4> reparto;                            // "reparto1" to "reparto4" of "ASSISTENZA"
    std::string dominio;                                           // "ASSISTENZA"
    DsnKeys dsn;                                                   // "DSN"
};

// "smtport" of section "CDO": no port (the one in "smtpserver", else 25), a
// port from 1 to 65535, or a text that is none (sending then fails, naming it).
struct SmtpPort {
    std::optional<int> number;
    std::string unusable;  // the text when it is no port
    // As the SMTP component takes it: "" for none.
    std::string setting() const { return number ? std::to_string(*number) : unusable; }
};

// Section "CDO": the SMTP component's server and account.
struct SmtpSettings {
    std::string server;  // "smtpserver": host, or host:port
    SmtpPort port;       // "smtport"
    std::string user;    // "username"
    std::string password;
    std::string from;    // the sender when the message names none ("" for "username")
};

// Section "MAPI": the mail layer's store, drafts folder and transport.
struct MapiSettings {
    std::string client;                       // the mail client's name ("" for the desktop's default)
    std::string store;                        // "" for the maildir store in the documents folder
    std::string drafts = "Drafts";
    std::string transport = "sendmail://localhost";
    std::string no_receipt;                   // "senza_ricevuta", trimmed, lower case
};

// Section "TLS": when credentials may travel without TLS and which CAs are trusted.
struct TlsSettings {
    bool allow_plain = false;                  // "in_chiaro" is "Y" (any case)
    std::string extra_ca;                      // "ca_extra", a native path ("" for none)
    std::vector<std::string> local_addresses;  // "indirizzi_locali", split at ";" (empty: the loopback ones)
};

// Section "OAUTH2", each value trimmed (the two files native paths).
struct OAuthSettings {
    std::string token_url, client_id, client_secret, client_secret_file, refresh_token, refresh_token_file, scope;
    bool enabled() const { return !token_url.empty(); }
};

struct Settings {
    Switches sw;
    HostInfo host;
    OperatorKeys op;      // as written in velarion.ini; read by derive() and the dialogs only
    GlobalKeys global;    // the same
    MailKeys mail;        // the same
    PdfComponents pdf;

    // Derived once by derive(), after the keys above were loaded or changed.
    std::string work_dir;         // "tempozip_dir", "/" separators, trailing "/"
    std::string spool_dir;        // "Path", the same way
    bool has_spool = false;       // "Path" names a folder
    bool has_work = false;        // "tempozip_dir" names a folder
    std::string spool_key;        // "Path" as written (the operator line shows it so)
    std::string logo_key;         // "Dir_Loghi" as written, the same
    std::string work_key;         // "tempozip_dir" as written (the PKZIP error line shows it so)
    std::string save_dir;         // "send_dir", the same way; "" when it names none
    std::string merge_dir;        // "unione_DIR", the same way ("/" when it names none)
    std::string logo_dir;         // "Dir_Loghi", the same way; spool_dir + "loghi/" when it is empty
    std::string style_file;       // logo_dir + "loghi.ini"
    std::string outlook_version;  // the version after "OUTLOOK" in "ParGenerali" (kept without a token)
    bool norif = false;           // "ParGenerali" holds "NORIF": the subject without "RIF:"
    bool nolett = false;          // "ParGenerali" holds "NOLETT": no read receipt
    bool prepara = false;         // "ParGenerali" holds "PREPARA:<folder>;": prepare mode
    bool outlook = false;         // "ParGenerali" holds "OUTLOOK" (any case)
    DeliveryMode delivery_mode = DeliveryMode::per_message;  // "tipoinvio", any case
    MailClientKey mail_client_key = MailClientKey::current_user;  // "ChiaveRegistry"
    SmtpSettings smtp;            // section "CDO"
    std::string prepare_dir;      // that folder, "/" separators, trailing "/"
    std::string account_login;    // "login_email" for the transport; empty when "acc:" is "Y"
    std::string account_password; // "pwd_email" the same way
    // The mail profile's own address: "EMailAddr" when it holds an "@", else
    // "login_email" when that does, trimmed; "" for none.
    std::string sender;
    // Where spool input may reach (each folder with a trailing "/"):
    // read_roots: the spool, work, save ("send_dir") and merge ("unione_DIR")
    // folders and "cartelle_lettura"; copy_roots: the save and prepare
    // folders and "cartelle_copia"; no_copy_roots: what a copy never goes
    // below, whatever the copy folders: the spool's queue ("coda"), the logo
    // folder, the merge folder and the work folder, whose files the agent
    // itself reads (styles, PDFs that later invoices append, claims, logs).
    std::vector<std::string> read_roots;
    std::vector<std::string> read_folders;  // "cartelle_lettura" alone
    std::vector<std::string> copy_folders;  // "cartelle_copia" alone
    std::vector<std::string> copy_roots;
    std::vector<std::string> no_copy_roots;
    RetrySettings retry;          // the "GLOBAL" keys above, read as numbers
    // How long the size check of a ".0" waits for a file that keeps changing
    // before its message is left for a later tick, in seconds (2 minutes).
    long long size_check_limit = 120;
    // The umask of everything the agent writes ("umask" of "GLOBAL", octal;
    // 0077 when missing or unreadable).
    unsigned file_umask = 077;
    // "metriche" of "GLOBAL", a native path; none when the key is empty.
    std::optional<std::string> metrics_file;
    // "Timing" of "GLOBAL" in milliseconds; none when missing or no whole
    // number above 0, timing_error then being why (the load step stops with it).
    std::optional<int> timer_interval;
    std::string timing_error;
    std::string fax_gateway = "fax";  // "fax_gateway" of "GLOBAL", trimmed
    // Seconds every SMTP path waits for the answer to the end of a message's
    // data ("smtp_attesa_dati", 1 to 86400; 600 when missing or unusable).
    int smtp_data_wait = 600;
    // Seconds the SMTP component waits for the server ("timeout" of "CDO",
    // 1 to 60, more counting as 60; 30 when missing or unusable).
    int smtp_timeout = 30;
    // Bounds on what spool input may make the agent read and write:
    // "fattura_max_mb" (1 to 1024; 10), "pagine_max" (1 to 100000000;
    // 250000) and "messaggio_max_mb" (1 to 1048576; 1024) of "GLOBAL".
    std::uint64_t invoice_max_bytes = 10ull << 20;
    long max_pages = 250'000;
    std::uint64_t message_max_bytes = 1024ull << 20;
    MapiSettings mapi;
    DsnSettings dsn;  // section "DSN"
    TlsSettings tls;
    OAuthSettings oauth;
    // Section "ASSISTENZA": the help desk's four mailbox names and the
    // domain joined to them (with its "@").
    std::array<std::string, 4> support_departments;
    std::string support_domain;

    // Each key whose text could not be used, once, as "file:line [SECTION]
    // key: 'text' what" (the line is 0 when derive() was not given the file).
    std::vector<FileProblem> problems;

    // Makes the values above from the keys, checking each: a key that cannot
    // be used keeps its default and is one of `problems`. `from` is the
    // velarion.ini the keys were read from, for the lines of the problems.
    void derive(const ini::IniContents* from = nullptr);

    // Takes the keys of "GLOBAL" and of the mail sections from a velarion.ini
    // read whole and derives every value again (the operator's keys as they are).
    void load_shared_keys(const ini::IniContents& file);

    // True when the style file lies below the spool folder (links resolved):
    // whoever writes the spool can change the styles, and what they name is
    // spool input.
    bool styles_in_spool() const;

    // Full path of velarion.ini in the configuration directory (the existing
    // spelling when the file was copied in another case).
    std::string ini_path() const;
};

// The "GLOBAL" and mail keys of a velarion.ini read whole (empty when absent).
GlobalKeys global_keys_of(const ini::IniContents& file);
MailKeys mail_keys_of(const ini::IniContents& file);

// The value of section/key of a velarion.ini read whole ("" when absent).
std::string key_of(const ini::IniContents& file, const std::string& section, const std::string& key);

// The Outlook version held in "ParGenerali" ("" without an Outlook token).
std::string outlook_version_of(const std::string& par_generali);

}  // namespace velarion
