#include "setup/cdo_dialog.h"

#include "common/config_store.h"

namespace velarion {

const std::array<CdoFieldInfo, 5> kCdoFields = {{
    {CdoField::txt_smtpserver, "txt_smtpserver", "Server SMTP", "smtpserver", false},
    {CdoField::txt_smtpport, "txt_smtpport", "Porta SMTP", "smtport", false},
    {CdoField::txt_password, "txt_password", "Password", "password", true},
    {CdoField::txt_username, "txt_username", "Utente", "username", false},
    {CdoField::txt_from, "txt_from", "Mittente", "from", false},
}};

FormCDOLogic::FormCDOLogic(SetupContext ctx, CdoView& view) : ctx_(std::move(ctx)), view_(view) {}

void FormCDOLogic::Form_Load() {
    const OperatorSettings& op = ctx_.rt.cfg.op;
    view_.set_field(CdoField::txt_smtpserver, op.smtpserver);
    view_.set_field(CdoField::txt_smtpport, op.smtport);
    view_.set_field(CdoField::txt_password, op.password);
    view_.set_field(CdoField::txt_username, op.username);
    view_.set_field(CdoField::txt_from, op.from);
}

void FormCDOLogic::CmdExit_Click() {
    // 1. The five keys, in this order, unchecked.
    for (const auto& info : kCdoFields) write_config(ctx_.rt, "CDO", std::string(info.key), view_.field(info.field));
    // 2. Parameters re-read: the next delivery uses the new values.
    if (ctx_.reload) ctx_.reload();
    // 3. Closed.
    view_.close_dialog();
}

}  // namespace velarion
