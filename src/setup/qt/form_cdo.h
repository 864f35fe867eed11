// FormCDO: the SMTP settings window, opened modally by frm_setuputente.
#pragma once

#include <array>
#include <memory>

#include <QDialog>

#include "setup/cdo_dialog.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace velarion::qt {

class FormCDO final : public QDialog, public CdoView {
    Q_OBJECT
public:
    explicit FormCDO(SetupContext ctx, QWidget* parent = nullptr);
    ~FormCDO() override;

    QLineEdit* edit(CdoField f) const { return edits_[static_cast<std::size_t>(f)]; }
    QLineEdit* edit(OAuthField f) const { return oauth_edits_[static_cast<std::size_t>(f)]; }
    QComboBox* cmbSignOn = nullptr;  // "Password" or "OAuth 2.0"
    QPushButton* CmdExit = nullptr;

    // CdoView
    void set_field(CdoField f, const std::string& text) override;
    std::string field(CdoField f) const override;
    void set_oauth_field(OAuthField f, const std::string& text) override;
    std::string oauth_field(OAuthField f) const override;
    void set_sign_on(SignOnMethod m) override;
    SignOnMethod sign_on() const override;
    void show_oauth_fields(bool shown) override;
    void close_dialog() override;

private:
    std::array<QLineEdit*, kCdoFields.size()> edits_{};
    std::array<QLineEdit*, kOAuthFields.size()> oauth_edits_{};
    QWidget* oauth_box_ = nullptr;
    std::unique_ptr<FormCDOLogic> logic_;
};

}  // namespace velarion::qt
