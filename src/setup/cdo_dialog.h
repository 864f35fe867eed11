// FormCDO: the SMTP settings of section "CDO" of velarion.ini. Shows the
// loaded values; its exit button writes the five keys and re-reads the
// parameters, so that the next delivery uses them. It also offers the
// sign-on method, password or OAuth 2.0, with the keys of section "OAUTH2".
#pragma once

#include <array>
#include <string>

#include "setup/setup_context.h"

namespace velarion {

enum class CdoField { txt_smtpserver, txt_smtpport, txt_password, txt_username, txt_from };

struct CdoFieldInfo {
    CdoField field;
    const char* control;
    const char* label;
    const char* key;  // in section "CDO"
    bool masked;
};

// In the order the keys are written.
extern const std::array<CdoFieldInfo, 5> kCdoFields;

enum class OAuthField {
    txt_token_url,
    txt_client_id,
    txt_client_secret,
    txt_client_secret_file,
    txt_refresh_token,
    txt_refresh_token_file,
    txt_scope,
};

struct OAuthFieldInfo {
    OAuthField field;
    const char* control;
    const char* label;
    const char* key;  // in section "OAUTH2"
    bool masked;      // a secret: shown as dots
};

extern const std::array<OAuthFieldInfo, 7> kOAuthFields;

// How the mail services sign on: with the password, or with OAuth 2.0
// (XOAUTH2), which a "token_url" in section "OAUTH2" turns on.
enum class SignOnMethod { password, oauth };

class CdoView {
public:
    virtual ~CdoView() = default;
    virtual void set_field(CdoField f, const std::string& text) = 0;
    virtual std::string field(CdoField f) const = 0;
    virtual void set_oauth_field(OAuthField f, const std::string& text) = 0;
    virtual std::string oauth_field(OAuthField f) const = 0;
    virtual void set_sign_on(SignOnMethod m) = 0;
    virtual SignOnMethod sign_on() const = 0;
    // The OAuth keys are shown only with the OAuth method.
    virtual void show_oauth_fields(bool shown) = 0;
    virtual void close_dialog() = 0;
};

class FormCDOLogic {
public:
    FormCDOLogic(SetupContext ctx, CdoView& view);

    // Fills the fields from the loaded settings.
    void Form_Load();
    // The sign-on method chosen: the OAuth keys shown or hidden.
    void SignOn_Change();
    // Writes the five keys (with OAuth, the keys of "OAUTH2" too; with the
    // password, an empty "token_url" where one was set), re-reads the
    // parameters and closes.
    void CmdExit_Click();

private:
    SetupContext ctx_;
    CdoView& view_;
};

}  // namespace velarion
