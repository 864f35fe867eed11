#include "startup/user_params.h"

#include "platform/os/file_modes.h"
#include "platform/os/ini_file.h"
#include "platform/os/paths.h"
#include "platform/os/text_encoding.h"
#include "startup/agent.h"
#include "common/config_store.h"

namespace velarion {

void Leggi_Param_Utenti(Agent& a) {
    a.rt.trace("SONO NELLA Leggi_Param_Utenti");
    // velarion.ini is read once for all the keys, with the line of each for
    // the problems of the values made from them.
    const ini::IniContents file = ini::read_all(a.settings.ini_path());
    auto key = [&](const std::string& section, const char* name) { return key_of(file, section, name); };
    OperatorKeys& op = a.settings.op;
    const std::string& s = a.settings.sw.ope;
    op.pwd_Operatore = key(s, "pwd_Operatore");
    op.login_email = key(s, "login_email");
    op.pwd_email = key(s, "pwd_email");
    op.EMailAddr = key(s, "EMailAddr");
    op.Path = key(s, "Path");
    op.send_dir = key(s, "send_dir");
    op.tempozip_dir = key(s, "tempozip_dir");
    op.Dir_Loghi = key(s, "Dir_Loghi");
    op.smtpserver = key("CDO", "smtpserver");
    op.username = key("CDO", "username");
    op.password = key("CDO", "password");
    op.smtport = key("CDO", "smtport");
    op.from = key("CDO", "from");
    op.tipoinvio = key(s, "tipoinvio");
    op.ParGenerali = key(s, "ParGenerali");
    op.unione_DIR = key(s, "unione_DIR");
    op.ChiaveRegistry = key(s, "ChiaveRegistry");
    op.cartelle_lettura = key("PERCORSI", "cartelle_lettura");
    op.cartelle_copia = key("PERCORSI", "cartelle_copia");
    // The other sections' keys, and the values made from all of them, once
    // for every routine that reads them.
    a.settings.load_shared_keys(file);
    // Everything written from now on (copies, PDFs, logs, parked messages)
    // gets the installation's modes, whatever those of the spool files.
    file_modes::set_umask(a.settings.file_umask);

    if (a.settings.outlook) {
        a.list.add(" Outlook versione  " + a.settings.outlook_version);
        a.list.refresh();
    }
}

}  // namespace velarion
