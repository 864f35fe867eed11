#include "startup/user_params.h"

#include "platform/text_encoding.h"
#include "startup/config_store.h"
#include "startup/context.h"

namespace velarion {

std::string outlook_version_of(const std::string& par_generali) {
    if (text::upper(par_generali).find("OUTLOOK") == std::string::npos) return "";
    // The version begins eight characters after the upper-case token; when the
    // token is written in another case its position reads as 0, so the
    // version is taken from the characters 8 to 11 of the text.
    const auto pos = par_generali.find("OUTLOOK");
    const std::size_t start = pos == std::string::npos ? 7 : pos + 8;
    return start < par_generali.size() ? par_generali.substr(start, 4) : "";
}

void Leggi_Param_Utenti(Context& ctx) {
    ctx.trace("SONO NELLA Leggi_Param_Utenti");
    OperatorSettings& op = ctx.op;
    const std::string& s = ctx.sw.ope;
    op.pwd_Operatore = read_config(ctx, s, "pwd_Operatore");
    op.login_email = read_config(ctx, s, "login_email");
    op.pwd_email = read_config(ctx, s, "pwd_email");
    op.EMailAddr = read_config(ctx, s, "EMailAddr");
    op.Path = read_config(ctx, s, "Path");
    op.send_dir = read_config(ctx, s, "send_dir");
    op.tempozip_dir = read_config(ctx, s, "tempozip_dir");
    op.Dir_Loghi = read_config(ctx, s, "Dir_Loghi");
    op.smtpserver = read_config(ctx, "CDO", "smtpserver");
    op.username = read_config(ctx, "CDO", "username");
    op.password = read_config(ctx, "CDO", "password");
    op.smtport = read_config(ctx, "CDO", "smtport");
    op.from = read_config(ctx, "CDO", "from");
    op.tipoinvio = read_config(ctx, s, "tipoinvio");
    op.ParGenerali = read_config(ctx, s, "ParGenerali");
    op.unione_DIR = read_config(ctx, s, "unione_DIR");
    op.ChiaveRegistry = read_config(ctx, s, "ChiaveRegistry");

    if (text::upper(op.ParGenerali).find("OUTLOOK") != std::string::npos) {
        op.outlook_version = outlook_version_of(op.ParGenerali);
        ctx.list.add(" Outlook versione  " + op.outlook_version);
        ctx.list.refresh();
    }
}

}  // namespace velarion
