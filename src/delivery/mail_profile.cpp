#include "delivery/mail_profile.h"

#include <cstdlib>

#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/text_encoding.h"
#include "startup/config_store.h"
#include "startup/context.h"

namespace velarion {

namespace {

std::string default_store(const Context& ctx) {
    std::string docs = ctx.host.documents_dir;
    if (docs.empty()) {
        const char* home = std::getenv("HOME");
        docs = std::string(home && *home ? home : "/tmp") + "/Documents";
    }
    std::string dir = paths::with_separator(paths::native(docs)) + "Velarion/posta";
    if (dir.empty() || dir[0] != '/') dir = "/" + dir;
    return "maildir://localhost" + dir;
}

bool is_address(const std::string& s) { return s.find('@') != std::string::npos; }

}  // namespace

mail::Profile mail_profile(const Context& ctx) {
    mail::Profile p;
    p.store = read_config(ctx, "MAPI", "store");
    if (p.store.empty()) p.store = default_store(ctx);
    p.drafts = read_config(ctx, "MAPI", "drafts");
    if (p.drafts.empty()) p.drafts = "Drafts";
    p.transport = read_config(ctx, "MAPI", "transport");
    if (p.transport.empty()) p.transport = "sendmail://localhost";
    // The profile's own address: the operator's mail address, else the mail account.
    if (is_address(ctx.op.EMailAddr))
        p.from = text::trim(ctx.op.EMailAddr);
    else if (is_address(ctx.op.login_email))
        p.from = text::trim(ctx.op.login_email);
    return p;
}

std::string mail_client_name(Context& ctx) {
    if (!ctx.host.mail_client.empty()) return ctx.host.mail_client;
    if (!ctx.delivery.mail_client)
        ctx.delivery.mail_client =
            registry::read(registry::Hive::CurrentUser, "Software\\Clients\\Mail", "", "", ctx.ini_path());
    return *ctx.delivery.mail_client;
}

bool is_client_outlook(const std::string& client_name) {
    const std::string up = text::upper(client_name);
    return (up.find("OUTLOOK") != std::string::npos && up.find("EXPRESS") == std::string::npos) ||
           up.find("EXCHANGE") != std::string::npos;
}

std::string senza_ricevuta(const Context& ctx) { return read_config(ctx, "MAPI", "senza_ricevuta"); }

}  // namespace velarion
