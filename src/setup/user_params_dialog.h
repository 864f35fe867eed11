// frm_setuputente: the user parameters dialog. Shows the operator's keys of
// velarion.ini, checks the work folder's name, writes the keys in their order
// and re-reads the parameters; picks folders and opens the file manager on
// them. The front end builds its controls from the tables below and forwards
// its events here.
#pragma once

#include <array>
#include <string>

#include "setup/setup_context.h"

namespace velarion {

enum class SetupField {
    txt_operatore,
    txt_pwdoperatore,
    txt_loginEmail,
    txt_PwdEmail,
    txt_email_addr,
    txt_direc_files,
    txt_direc_backup,
    txt_direc_tempozip,
    txt_direc_loghi,
    cboTipoInvio,
    txtpargenerali,
    txt_direc_unione,
    cmbregmail,
};

// The labels of the folder fields that react to a double click.
enum class DirLabel { lbl_Directory, lbl_dir_backup, lbl_dir_loghi, lbl_dir_tempozip };

struct SetupFieldInfo {
    SetupField field;
    const char* control;  // control name
    const char* label;
    const char* key;      // key written by the save ("" when not saved)
    bool upper;           // the value is upper-cased when saved
    bool masked;          // a password: shown masked
    bool list;            // a list with fixed choices
};

// The fields in the order of the window and of the save.
extern const std::array<SetupFieldInfo, 13> kSetupFields;
const SetupFieldInfo& setup_field(SetupField f);

struct FolderPick {
    SetupField field;
    DirLabel label;
    const char* label_control;
    const char* title;  // title of the folder browser
};
extern const std::array<FolderPick, 4> kFolderPicks;
// The folder field's pick entry; nullptr for other fields.
const FolderPick* folder_pick(SetupField f);

// Choices of the two lists; the first one given is the default.
extern const std::array<const char*, 3> kTipoInvioChoices;   // cboTipoInvio
extern const std::array<const char*, 3> kRegistryChoices;    // cmbregmail
inline constexpr const char* kTipoInvioDefault = "PER MESSAGGIO";
inline constexpr const char* kRegistryDefault = "DA PROGRAMMA";

inline constexpr const char* kTempozipMessage = "la directory temporanea per i file deve terminare con TEMPOZIP";

// The work folder's name ends with "tempozip" or "tempozip\" ("tempozip/"), in any case.
bool tempozip_name_ok(const std::string& dir);

class SetupUtenteView {
public:
    virtual ~SetupUtenteView() = default;
    virtual void set_caption(const std::string& text) = 0;
    virtual void set_app_label(const std::string& text) = 0;  // lblApp
    virtual void set_field(SetupField f, const std::string& text) = 0;
    virtual std::string field(SetupField f) const = 0;
    virtual void focus_field(SetupField f) = 0;
    // Red (RGB 255, 0, 0) while its folder browser is open; the button-text colour otherwise.
    virtual void set_label_red(DirLabel l, bool red) = 0;
    // The folder browser with its title: the chosen folder, "" when cancelled.
    virtual std::string browse_folder(const std::string& title, const std::string& start) = 0;
    // The file manager on a folder, maximised.
    virtual void open_file_manager(const std::string& folder) = 0;
    virtual void message_box(const std::string& text) = 0;
    // FormCDO, modal.
    virtual void open_cdo() = 0;
    virtual void close_dialog() = 0;
};

class frm_setuputenteLogic {
public:
    frm_setuputenteLogic(SetupContext ctx, SetupUtenteView& view);

    void Form_Load();
    // Checks the work folder and the lists, writes the keys, re-reads the
    // parameters and closes; false when refused (nothing written).
    bool cmdSave_Click();
    void CmdExit_Click();
    void cmdcdo_Click();
    // Leaving cboTipoInvio or cmbregmail with this text: false keeps the focus there.
    bool may_leave(SetupField f, const std::string& text) const;
    // Double click on a folder label: the file manager on the field's folder.
    void label_DblClick(DirLabel l);
    // Double click on a folder field: the folder browser.
    void field_DblClick(SetupField f);

private:
    SetupContext ctx_;
    SetupUtenteView& view_;
};

}  // namespace velarion
