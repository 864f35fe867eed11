#include "delivery/mail_profile.h"

#include <algorithm>
#include <cstdlib>

#include "common/runtime.h"
#include "delivery/delivery_state.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/text_encoding.h"

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

bool is_address(const std::string& s) { return s.find('@') != std::string::npos; }

}  // namespace

mail::Profile mail_profile(const Runtime& rt) {
    mail::Profile p;
    p.store = read_config(rt.cfg, "MAPI", "store");
    if (p.store.empty()) p.store = default_store(rt);
    p.drafts = read_config(rt.cfg, "MAPI", "drafts");
    if (p.drafts.empty()) p.drafts = "Drafts";
    p.transport = read_config(rt.cfg, "MAPI", "transport");
    if (p.transport.empty()) p.transport = "sendmail://localhost";
    // The profile's own address: the operator's mail address, else the mail account.
    if (is_address(rt.cfg.op.EMailAddr))
        p.from = text::trim(rt.cfg.op.EMailAddr);
    else if (is_address(rt.cfg.op.login_email))
        p.from = text::trim(rt.cfg.op.login_email);
    p.tls = tls_policy(rt);
    p.data_timeout = smtp_data_wait(rt);
    p.oauth = oauth_sign_on(rt);
    return p;
}

oauth::SignOn oauth_sign_on(const Runtime& rt) {
    const auto key = [&](const char* name) { return text::trim(read_config(rt.cfg, "OAUTH2", name)); };
    oauth::SignOn s;
    s.config.token_url = key("token_url");
    s.config.client_id = key("client_id");
    s.config.client_secret = key("client_secret");
    s.config.client_secret_file = paths::native(key("client_secret_file"));
    s.config.refresh_token = key("refresh_token");
    s.config.refresh_token_file = paths::native(key("refresh_token_file"));
    s.config.scope = key("scope");
    s.config.extra_ca = tls_policy(rt).extra_ca;
    s.tokens = &rt.tokens;
    return s;
}

mail::TlsPolicy tls_policy(const Runtime& rt) {
    mail::TlsPolicy t;
    t.allow_plain = text::lower(text::trim(read_config(rt.cfg, "TLS", "in_chiaro"))) == "y";
    t.extra_ca = paths::native(text::trim(read_config(rt.cfg, "TLS", "ca_extra")));
    const std::string local = read_config(rt.cfg, "TLS", "indirizzi_locali");
    std::size_t start = 0;
    while (start <= local.size()) {
        const std::size_t end = std::min(local.find(';', start), local.size());
        const std::string address = text::trim(local.substr(start, end - start));
        if (!address.empty()) t.local_addresses.push_back(address);
        start = end + 1;
    }
    return t;
}

int smtp_timeout(const Runtime& rt) {
    const std::string text = text::trim(read_config(rt.cfg, "CDO", "timeout"));
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return 30;
    const int seconds = std::stoi(text);
    return seconds < 1 ? 30 : std::min(seconds, 60);
}

int smtp_data_wait(const Runtime& rt) {
    const std::string text = text::trim(read_config(rt.cfg, "GLOBAL", "smtp_attesa_dati"));
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return 600;
    const int seconds = std::stoi(text);
    return seconds < 1 || seconds > 86400 ? 600 : seconds;
}

std::string mail_client_name(const Runtime& rt, DeliveryState& state) {
    if (!rt.cfg.host.mail_client.empty()) return rt.cfg.host.mail_client;
    if (!state.mail_client)
        state.mail_client =
            registry::read(registry::Hive::CurrentUser, "Software\\Clients\\Mail", "", "", rt.cfg.ini_path());
    return *state.mail_client;
}

bool is_client_outlook(const std::string& client_name) {
    const std::string up = text::upper(client_name);
    return (up.find("OUTLOOK") != std::string::npos && up.find("EXPRESS") == std::string::npos) ||
           up.find("EXCHANGE") != std::string::npos;
}

std::string senza_ricevuta(const Runtime& rt) { return read_config(rt.cfg, "MAPI", "senza_ricevuta"); }

}  // namespace velarion
