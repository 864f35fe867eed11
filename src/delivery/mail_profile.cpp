#include "delivery/mail_profile.h"

#include <cstdlib>

#include "common/runtime.h"
#include "delivery/delivery_request.h"
#include "delivery/delivery_state.h"
#include "platform/os/paths.h"
#include "platform/os/registry.h"
#include "platform/os/text_encoding.h"

namespace velarion {

namespace {

std::string default_store(const Runtime& rt) {
    std::string docs = rt.cfg.host.documents_dir;
    if (docs.empty()) {
        const char* home = std::getenv("HOME");
        docs = std::string(home && *home ? home : "/tmp") + "/Documents";
    }
    std::string dir = paths::with_separator(paths::native(docs)) + "Velarion/posta";
    if (dir.empty() || dir[0] != '/') dir = "/" + dir;
    return "maildir://localhost" + dir;
}

}  // namespace

mail::Profile mail_profile(const Runtime& rt) {
    mail::Profile p;
    const MapiSettings& mapi = rt.cfg.mapi;
    p.store = mapi.store.empty() ? default_store(rt) : mapi.store;
    p.drafts = mapi.drafts;
    p.transport = mapi.transport;
    // The profile's own address: the operator's mail address, else the mail account.
    p.from = rt.cfg.sender;
    p.tls = tls_policy(rt);
    p.data_timeout = smtp_data_wait(rt);
    p.oauth = oauth_sign_on(rt);
    return p;
}

oauth::SignOn oauth_sign_on(const Runtime& rt) {
    const OAuthSettings& o = rt.cfg.oauth;
    oauth::SignOn s;
    s.config.token_url = o.token_url;
    s.config.client_id = o.client_id;
    s.config.client_secret = o.client_secret;
    s.config.client_secret_file = o.client_secret_file;
    s.config.refresh_token = o.refresh_token;
    s.config.refresh_token_file = o.refresh_token_file;
    s.config.scope = o.scope;
    s.config.extra_ca = rt.cfg.tls.extra_ca;
    s.tokens = &rt.tokens;
    return s;
}

mail::TlsPolicy tls_policy(const Runtime& rt) {
    mail::TlsPolicy t;
    t.allow_plain = rt.cfg.tls.allow_plain;
    t.extra_ca = rt.cfg.tls.extra_ca;
    t.local_addresses = rt.cfg.tls.local_addresses;
    return t;
}

int smtp_timeout(const Runtime& rt) { return rt.cfg.smtp_timeout; }

int smtp_data_wait(const Runtime& rt) { return rt.cfg.smtp_data_wait; }

std::string mail_client_name(const Runtime& rt, DeliveryState& state) {
    if (!rt.cfg.host.mail_client.empty()) return rt.cfg.host.mail_client;
    if (!state.mail_client)
        state.mail_client = !rt.cfg.mapi.client.empty()
                                ? rt.cfg.mapi.client
                                : registry::read(registry::Hive::CurrentUser, "Software\\Clients\\Mail", "", "");
    return *state.mail_client;
}

bool is_client_outlook(const std::string& client_name) {
    const std::string up = text::upper(client_name);
    return (up.find("OUTLOOK") != std::string::npos && up.find("EXPRESS") == std::string::npos) ||
           up.find("EXCHANGE") != std::string::npos;
}

mail::Dsn dsn_request(const Runtime& rt, const DeliveryRequest& r) {
    mail::Dsn d;
    const auto at = r.message_id.rfind('@');
    d.envelope_id = at == std::string::npos ? r.message_id : r.message_id.substr(0, at);
    d.notify = rt.cfg.dsn.notify;
    return d;
}

std::string senza_ricevuta(const Runtime& rt) { return rt.cfg.mapi.no_receipt; }

}  // namespace velarion
