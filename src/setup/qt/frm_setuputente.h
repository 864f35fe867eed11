// frm_setuputente: the user parameters window. Its controls are built from
// the core's field table; it shows what frm_setuputenteLogic asks and
// forwards the buttons, the double clicks and the lists' focus changes.
#pragma once

#include <array>
#include <memory>

#include <QDialog>

#include "setup/setup_context.h"
#include "setup/user_params_dialog.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace velarion::qt {

class frm_setuputente final : public QDialog, public SetupUtenteView {
    Q_OBJECT
public:
    explicit frm_setuputente(SetupContext ctx, QWidget* parent = nullptr);
    ~frm_setuputente() override;

    // The control of a field (a QLineEdit, or a QComboBox for the two lists) and its label.
    QWidget* control(SetupField f) const { return controls_[static_cast<std::size_t>(f)]; }
    QLabel* label(SetupField f) const { return labels_[static_cast<std::size_t>(f)]; }
    QLabel* label(DirLabel l) const;
    frm_setuputenteLogic& logic() { return *logic_; }

    QLabel* lblApp = nullptr;
    QPushButton* cmdSave = nullptr;
    QPushButton* CmdExit = nullptr;
    QPushButton* cmdcdo = nullptr;

    // SetupUtenteView
    void set_caption(const std::string& text) override;
    void set_app_label(const std::string& text) override;
    void set_field(SetupField f, const std::string& text) override;
    std::string field(SetupField f) const override;
    void focus_field(SetupField f) override;
    void set_label_red(DirLabel l, bool red) override;
    std::string browse_folder(const std::string& title, const std::string& start) override;
    void open_file_manager(const std::string& folder) override;
    void message_box(const std::string& text) override;
    void open_cdo() override;
    void close_dialog() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void create_controls();
    // The field a control (or a list's line edit) belongs to; -1 for none.
    int field_of(QObject* o) const;

    SetupContext ctx_;
    std::array<QWidget*, kSetupFields.size()> controls_{};
    std::array<QLabel*, kSetupFields.size()> labels_{};
    std::unique_ptr<frm_setuputenteLogic> logic_;
};

}  // namespace velarion::qt
