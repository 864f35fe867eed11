// FormCDO: the SMTP settings of section "CDO" of velarion.ini. Shows the
// loaded values; its exit button writes the five keys and re-reads the
// parameters, so that the next delivery uses them.
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

class CdoView {
public:
    virtual ~CdoView() = default;
    virtual void set_field(CdoField f, const std::string& text) = 0;
    virtual std::string field(CdoField f) const = 0;
    virtual void close_dialog() = 0;
};

class FormCDOLogic {
public:
    FormCDOLogic(SetupContext ctx, CdoView& view);

    // Fills the fields from the loaded settings.
    void Form_Load();
    // Writes the five keys, re-reads the parameters and closes.
    void CmdExit_Click();

private:
    SetupContext ctx_;
    CdoView& view_;
};

}  // namespace velarion
