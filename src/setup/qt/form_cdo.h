// FormCDO: the SMTP settings window, opened modally by frm_setuputente.
#pragma once

#include <array>
#include <memory>

#include <QDialog>

#include "setup/cdo_dialog.h"

class QLineEdit;
class QPushButton;

namespace velarion::qt {

class FormCDO final : public QDialog, public CdoView {
    Q_OBJECT
public:
    explicit FormCDO(SetupContext ctx, QWidget* parent = nullptr);
    ~FormCDO() override;

    QLineEdit* edit(CdoField f) const { return edits_[static_cast<std::size_t>(f)]; }
    QPushButton* CmdExit = nullptr;

    // CdoView
    void set_field(CdoField f, const std::string& text) override;
    std::string field(CdoField f) const override;
    void close_dialog() override;

private:
    std::array<QLineEdit*, kCdoFields.size()> edits_{};
    std::unique_ptr<FormCDOLogic> logic_;
};

}  // namespace velarion::qt
