#include "setup/cdo_dialog.h"

#include "common/config_store.h"
#include "common/runtime.h"
#include "platform/os/text_encoding.h"

namespace velarion {

const std::array<CdoFieldInfo, 5> kCdoFields = {{
    {CdoField::txt_smtpserver, "txt_smtpserver", "Server SMTP", "smtpserver", false},
    {CdoField::txt_smtpport, "txt_smtpport", "Porta SMTP", "smtport", false},
    {CdoField::txt_password, "txt_password", "Password", "password", true},
    {CdoField::txt_username, "txt_username", "Utente", "username", false},
    {CdoField::txt_from, "txt_from", "Mittente", "from", false},
}};

const std::array<OAuthFieldInfo, 7> kOAuthFields = {{
    {OAuthField::txt_token_url, "txt_token_url", "URL dei token", "token_url", false},
    {OAuthField::txt_client_id, "txt_client_id", "ID client", "client_id", false},
    {OAuthField::txt_client_secret, "txt_client_secret", "Segreto client", "client_secret", true},
    {OAuthField::txt_client_secret_file, "txt_client_secret_file", "File del segreto client", "client_secret_file",
     false},
    {OAuthField::txt_refresh_token, "txt_refresh_token", "Refresh token", "refresh_token", true},
    {OAuthField::txt_refresh_token_file, "txt_refresh_token_file", "File del refresh token", "refresh_token_file",
     false},
    {OAuthField::txt_scope, "txt_scope", "Ambiti (scope)", "scope", false},
}};

namespace {
// The "OAUTH2" key of a field as loaded from velarion.ini.
const std::string& oauth_key(const MailKeys& k, OAuthField field) {
    switch (field) {
    case OAuthField::txt_token_url: return k.token_url;
    case OAuthField::txt_client_id: return k.client_id;
    case OAuthField::txt_client_secret: return k.client_secret;
    case OAuthField::txt_client_secret_file: return k.client_secret_file;
    case OAuthField::txt_refresh_token: return k.refresh_token;
    case OAuthField::txt_refresh_token_file: return k.refresh_token_file;
    case OAuthField::txt_scope: break;
    }
    return k.scope;
}
}  // namespace

FormCDOLogic::FormCDOLogic(SetupContext ctx, CdoView& view) : ctx_(std::move(ctx)), view_(view) {}

void FormCDOLogic::Form_Load() {
    const OperatorKeys& op = ctx_.rt.cfg.op;
    view_.set_field(CdoField::txt_smtpserver, op.smtpserver);
    view_.set_field(CdoField::txt_smtpport, op.smtport);
    view_.set_field(CdoField::txt_password, op.password);
    view_.set_field(CdoField::txt_username, op.username);
    view_.set_field(CdoField::txt_from, op.from);
    const MailKeys& keys = ctx_.rt.cfg.mail;
    for (const auto& info : kOAuthFields) view_.set_oauth_field(info.field, oauth_key(keys, info.field));
    const bool oauth = ctx_.rt.cfg.oauth.enabled();
    view_.set_sign_on(oauth ? SignOnMethod::oauth : SignOnMethod::password);
    view_.show_oauth_fields(oauth);
}

void FormCDOLogic::SignOn_Change() { view_.show_oauth_fields(view_.sign_on() == SignOnMethod::oauth); }

void FormCDOLogic::CmdExit_Click() {
    // The five keys, in this order, unchecked.
    for (const auto& info : kCdoFields) write_config(ctx_.rt, "CDO", std::string(info.key), view_.field(info.field));
    // The sign-on method: with OAuth its keys; with the password no
    // token URL (the other OAuth keys stay for a later change back).
    if (view_.sign_on() == SignOnMethod::oauth) {
        for (const auto& info : kOAuthFields)
            write_config(ctx_.rt, "OAUTH2", std::string(info.key), view_.oauth_field(info.field));
    } else if (!ctx_.rt.cfg.mail.token_url.empty()) {
        write_config(ctx_.rt, "OAUTH2", "token_url", "");
    }
    // Parameters re-read: the next delivery uses the new values.
    if (ctx_.reload) ctx_.reload();
    // The dialog closed.
    view_.close_dialog();
}

}  // namespace velarion
