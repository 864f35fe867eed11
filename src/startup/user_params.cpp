#include "startup/user_params.h"

#include "platform/file_modes.h"
#include "platform/paths.h"
#include "platform/text_encoding.h"
#include "startup/agent.h"
#include "common/config_store.h"

namespace velarion {

void Leggi_Param_Utenti(Agent& a) {
    a.rt.trace("SONO NELLA Leggi_Param_Utenti");
    OperatorSettings& op = a.settings.op;
    const std::string& s = a.settings.sw.ope;
    op.pwd_Operatore = read_config(a.settings, s, "pwd_Operatore");
    op.login_email = read_config(a.settings, s, "login_email");
    op.pwd_email = read_config(a.settings, s, "pwd_email");
    op.EMailAddr = read_config(a.settings, s, "EMailAddr");
    op.Path = read_config(a.settings, s, "Path");
    op.send_dir = read_config(a.settings, s, "send_dir");
    op.tempozip_dir = read_config(a.settings, s, "tempozip_dir");
    op.Dir_Loghi = read_config(a.settings, s, "Dir_Loghi");
    op.smtpserver = read_config(a.settings, "CDO", "smtpserver");
    op.username = read_config(a.settings, "CDO", "username");
    op.password = read_config(a.settings, "CDO", "password");
    op.smtport = read_config(a.settings, "CDO", "smtport");
    op.from = read_config(a.settings, "CDO", "from");
    op.tipoinvio = read_config(a.settings, s, "tipoinvio");
    op.ParGenerali = read_config(a.settings, s, "ParGenerali");
    op.unione_DIR = read_config(a.settings, s, "unione_DIR");
    op.ChiaveRegistry = read_config(a.settings, s, "ChiaveRegistry");
    op.cartelle_lettura = read_config(a.settings, "PERCORSI", "cartelle_lettura");
    op.cartelle_copia = read_config(a.settings, "PERCORSI", "cartelle_copia");
    GlobalSettings& g = a.settings.global;
    g.retry_delays = read_config(a.settings, "GLOBAL", "retry_delays");
    g.retry_limit = read_config(a.settings, "GLOBAL", "retry_limit");
    g.retention_days = read_config(a.settings, "GLOBAL", "retention_days");
    g.size_check = read_config(a.settings, "GLOBAL", "controllo_dimensione");
    g.umask = read_config(a.settings, "GLOBAL", "umask");
    g.metrics_path = paths::native(text::trim(read_config(a.settings, "GLOBAL", "metriche")));

    // The values derived from the keys, once for every routine that reads them.
    a.settings.derive();
    // Everything written from now on (copies, PDFs, logs, parked messages)
    // gets the installation's modes, whatever those of the spool files.
    file_modes::set_umask(a.settings.file_umask);

    if (text::upper(op.ParGenerali).find("OUTLOOK") != std::string::npos) {
        a.list.add(" Outlook versione  " + a.settings.outlook_version);
        a.list.refresh();
    }
}

}  // namespace velarion
