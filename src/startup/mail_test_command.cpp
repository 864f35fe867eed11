#include "startup/mail_test_command.h"

#include <cstdio>

#include "common/null_view.h"
#include "delivery/mail_profile.h"
#include "platform/os/clock.h"
#include "platform/mail/mail.h"
#include "platform/os/paths.h"
#include "platform/os/secret_text.h"
#include "platform/mail/smtp_component.h"
#include "platform/os/text_encoding.h"
#include "startup/agent.h"
#include "startup/command_agent.h"
#include "startup/command_line.h"
#include "startup/user_params.h"

namespace velarion {

namespace {

void say(std::FILE* f, const std::string& utf8) {
    const std::string out = utf8 + "\n";
    std::fwrite(out.data(), 1, out.size(), f);
}

// A URL as it may be shown: without its password.
std::string shown(const std::string& url) { return text::hide_secrets(url, {}); }

}  // namespace

int run_mail_test_command(const std::string& command_line) {
    CommandAgent command(command_line);
    Agent& a = command.agent();
    Switches& sw = a.settings.sw;
    if (const auto status = command.load([](const std::string& ini) {
            say(stderr, "velarion: Impossibile accedere al file " + text::cp1252_to_utf8(ini));
        }))
        return *status;
    const Runtime& rt = a.rt;
    const mail::Profile profile = mail_profile(rt);
    const std::string method = profile.oauth.enabled() ? "OAuth 2.0 (XOAUTH2)" : "password";
    bool ok = true;

    // The store, where drafts go.
    auto session = mail::open_session(profile);
    try {
        session->sign_on(rt.cfg.account_login, rt.cfg.account_password);
        say(stdout, "velarion: store " + shown(profile.store) + ": sign-on succeeded (" + method + ")");
    } catch (const std::exception& e) {
        ok = false;
        say(stderr, "velarion: store " + shown(profile.store) + ": sign-on failed (" + method + "): " +
                        text::cp1252_to_utf8(e.what()));
    }

    // The transport: the SMTP component's with "cdo:", else the mail layer's.
    if (sw.smtp_component) {
        mail::SmtpComponent smtp;
        smtp.Timeout = smtp_timeout(rt);
        smtp.Tls = tls_policy(rt);
        smtp.OAuth = oauth_sign_on(rt);
        smtp.UseAuthentication = true;
        smtp.UserName = rt.cfg.smtp.user;
        smtp.Password = rt.cfg.smtp.password;
        smtp.SMTPHost = rt.cfg.smtp.server;
        smtp.SMTPPort = rt.cfg.smtp.port.setting();
        smtp.SignOn();
        const std::string where = "transport SMTP " + text::cp1252_to_utf8(rt.cfg.smtp.server);
        if (smtp.failed()) {
            ok = false;
            say(stderr, "velarion: " + where + ": sign-on failed (" + method + "): " +
                            text::cp1252_to_utf8(smtp.error_text()));
        } else {
            say(stdout, "velarion: " + where + ": sign-on succeeded (" + method + ")");
        }
    } else {
        try {
            session->check_transport();
            say(stdout, "velarion: transport " + shown(profile.transport) + ": sign-on succeeded (" + method + ")");
        } catch (const std::exception& e) {
            ok = false;
            say(stderr, "velarion: transport " + shown(profile.transport) + ": sign-on failed (" + method + "): " +
                            text::cp1252_to_utf8(e.what()));
        }
    }
    session->sign_off();
    return ok ? 0 : 1;
}

}  // namespace velarion
