// Process-wide values: command-line switches, host facts, the operator's
// settings from velarion.ini, and the PDF component flags.
#pragma once

#include <string>

namespace velarion {

// The ten keyword switches of the command line, with their start values.
struct Switches {
    std::string plus = "n";  // "plus:" second-instance permission
    std::string cdo;         // "cdo:" SMTP-component transport
    std::string ope;         // "ope:" operator code
    std::string ope2;        // "ope:" second operator code (after ";")
    std::string deb;         // "deb:" debug flag
    std::string ini;         // "ini:" configuration directory
    std::string so;          // "so:" host system type
    std::string run = "y";   // "run:" run-at-start switch
    std::string fax;         // "fax:"
    std::string acc;         // "acc:"
    std::string intc = "Y";  // "int:" internal mail client switch
    bool ini_given = false;  // "ini:" appeared on the command line

    bool debug() const { return deb == "Y"; }
};

// Facts about the host, found at start-up.
struct HostInfo {
    std::string decimal_separator;  // "", "." or ","
    std::string system_root;
    std::string product_name;
    bool condensed_font = false;  // "Mnc57__a.ttf" found
    std::string user_name;
    std::string program_dir;    // with trailing "/"
    std::string documents_dir;  // the user's documents folder
    std::string mail_client;    // caption of lblclientMAPI (mail client name, " (Int)")
};

// PDF component flags set by controllo_dll.
struct PdfComponents {
    bool ocx_edition = false;
    bool xp_edition = false;
    bool merge = false;
};

// The operator's keys of velarion.ini, loaded by Leggi_Param_Utenti.
struct OperatorSettings {
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
    std::string outlook_version;  // derived from "ParGenerali"
};

}  // namespace velarion
