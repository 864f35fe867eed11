#include "setup/user_params_dialog.h"

#include <algorithm>

#include "common/config_store.h"
#include "platform/os/paths.h"
#include "platform/os/text_encoding.h"

namespace velarion {

const std::array<SetupFieldInfo, 13> kSetupFields = {{
    {SetupField::txt_operatore, "txt_operatore", "Codice Operatore", "", false, false, false},
    {SetupField::txt_pwdoperatore, "txt_pwdoperatore", "Password Operatore", "pwd_Operatore", false, true, false},
    {SetupField::txt_loginEmail, "txt_loginEmail", "Login Email", "login_email", false, false, false},
    {SetupField::txt_PwdEmail, "txt_PwdEmail", "Password Email", "pwd_email", false, true, false},
    {SetupField::txt_email_addr, "txt_email_addr", "Indirizzo Email", "EMailAddr", false, false, false},
    {SetupField::txt_direc_files, "txt_direc_files", "Directory files", "Path", false, false, false},
    {SetupField::txt_direc_backup, "txt_direc_backup", "Directory Salvataggio", "send_dir", false, false, false},
    {SetupField::txt_direc_tempozip, "txt_direc_tempozip", "Directory Temporanea ", "tempozip_dir", false, false, false},
    {SetupField::txt_direc_loghi, "txt_direc_loghi", "Directory Loghi", "Dir_Loghi", false, false, false},
    {SetupField::cboTipoInvio, "cboTipoInvio", "Tipo Invio", "TipoInvio", true, false, true},
    {SetupField::txtpargenerali, "txtpargenerali", "Parametri", "ParGenerali", false, false, false},
    {SetupField::txt_direc_unione, "txt_direc_unione", "Dir file unione", "unione_dir", false, false, false},
    {SetupField::cmbregmail, "cmbregmail", "Registry", "ChiaveRegistry", true, false, true},
}};

const std::array<FolderPick, 4> kFolderPicks = {{
    {SetupField::txt_direc_backup, DirLabel::lbl_dir_backup, "lbl_dir_backup", "Directory Backup posta"},
    {SetupField::txt_direc_files, DirLabel::lbl_Directory, "lbl_Directory", "Directory posizione posta"},
    {SetupField::txt_direc_loghi, DirLabel::lbl_dir_loghi, "lbl_dir_loghi", "Directory posizione loghi e immagine"},
    {SetupField::txt_direc_tempozip, DirLabel::lbl_dir_tempozip, "lbl_dir_tempozip",
     "Directory per copiare i files da elaborare"},
}};

const std::array<const char*, 3> kTipoInvioChoices = {"PER MESSAGGIO", "SEMPRE SAVE", "SEMPRE SEND"};
const std::array<const char*, 3> kRegistryChoices = {"LOCAL MACHINE", "CURRENT USER", "DA PROGRAMMA"};

const SetupFieldInfo& setup_field(SetupField f) { return kSetupFields[static_cast<std::size_t>(f)]; }

const FolderPick* folder_pick(SetupField f) {
    for (const auto& p : kFolderPicks)
        if (p.field == f) return &p;
    return nullptr;
}

namespace {

template <std::size_t N>
bool is_choice(const std::array<const char*, N>& choices, const std::string& text) {
    return std::any_of(choices.begin(), choices.end(), [&](const char* c) { return text == c; });
}

// A folder key that holds nothing (the loader of the original made it "\").
bool no_folder(const std::string& value) { return value.empty() || value == "\\" || value == "/"; }

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

bool tempozip_name_ok(const std::string& dir) {
    const std::string low = text::lower(dir);
    return ends_with(low, "tempozip") || ends_with(low, "tempozip\\") || ends_with(low, "tempozip/");
}

frm_setuputenteLogic::frm_setuputenteLogic(SetupContext ctx, SetupUtenteView& view)
    : ctx_(std::move(ctx)), view_(view) {}

void frm_setuputenteLogic::Form_Load() {
    OperatorKeys& op = ctx_.settings.op;
    const Settings& cfg = ctx_.settings;
    // Operator, its password and the mail account.
    view_.set_field(SetupField::txt_operatore, cfg.sw.ope);
    view_.set_field(SetupField::txt_pwdoperatore, op.pwd_Operatore);
    view_.set_field(SetupField::txt_loginEmail, op.login_email);
    view_.set_field(SetupField::txt_PwdEmail, op.pwd_email);
    view_.set_field(SetupField::txt_email_addr, op.EMailAddr);
    // Where the program lies.
    view_.set_app_label("Path Posizione Velarion.exe    " + cfg.host.program_dir);
    // Folders that hold nothing: the personal work folder made at start-up,
    // and the configuration directory for the spool.
    std::string tempozip = op.tempozip_dir;
    if (no_folder(tempozip))
        tempozip = paths::with_separator(paths::native(cfg.host.documents_dir)) + "Velarion/tempozip";
    std::string path = op.Path;
    if (no_folder(path)) path = cfg.sw.ini;
    // Caption: the velarion.ini shown.
    view_.set_caption("Parametri Utenti " + paths::with_separator(cfg.sw.ini) + "velarion.ini");
    // Folders, delivery mode, general parameters, registry; a list value
    // that is not one of its choices becomes the default, in memory too.
    view_.set_field(SetupField::txt_direc_files, path);
    view_.set_field(SetupField::txt_direc_backup, op.send_dir);
    view_.set_field(SetupField::txt_direc_tempozip, tempozip);
    view_.set_field(SetupField::txt_direc_loghi, op.Dir_Loghi);
    if (!is_choice(kTipoInvioChoices, op.tipoinvio)) op.tipoinvio = kTipoInvioDefault;
    view_.set_field(SetupField::cboTipoInvio, op.tipoinvio);
    view_.set_field(SetupField::txtpargenerali, op.ParGenerali);
    view_.set_field(SetupField::txt_direc_unione, op.unione_DIR);
    if (!is_choice(kRegistryChoices, op.ChiaveRegistry)) op.ChiaveRegistry = kRegistryDefault;
    view_.set_field(SetupField::cmbregmail, op.ChiaveRegistry);
}

bool frm_setuputenteLogic::may_leave(SetupField f, const std::string& text) const {
    if (f == SetupField::cboTipoInvio) return is_choice(kTipoInvioChoices, text);
    if (f == SetupField::cmbregmail) return is_choice(kRegistryChoices, text);
    return true;
}

bool frm_setuputenteLogic::cmdSave_Click() {
    // The work folder's name.
    if (!tempozip_name_ok(view_.field(SetupField::txt_direc_tempozip))) {
        view_.message_box(kTempozipMessage);
        return false;
    }
    // A list that holds another text cannot be left, so it is not saved either.
    for (SetupField f : {SetupField::cboTipoInvio, SetupField::cmbregmail}) {
        if (!may_leave(f, view_.field(f))) {
            view_.focus_field(f);
            return false;
        }
    }
    // The keys in the order of the table, into the operator's section
    // (velarion.ini in the configuration directory).
    const std::string section = ctx_.settings.sw.ope;
    for (const auto& info : kSetupFields) {
        if (*info.key == '\0') continue;
        std::string value = view_.field(info.field);
        if (info.upper) value = text::upper(value);
        write_config(ctx_.rt, section, std::string(info.key), value);
    }
    // Parameters re-read, dialog closed.
    if (ctx_.reload) ctx_.reload();
    view_.close_dialog();
    return true;
}

void frm_setuputenteLogic::CmdExit_Click() { view_.close_dialog(); }

void frm_setuputenteLogic::cmdcdo_Click() { view_.open_cdo(); }

void frm_setuputenteLogic::label_DblClick(DirLabel l) {
    SetupField f;
    switch (l) {
        case DirLabel::lbl_Directory: f = SetupField::txt_direc_files; break;
        case DirLabel::lbl_dir_loghi: f = SetupField::txt_direc_loghi; break;
        case DirLabel::lbl_dir_tempozip: f = SetupField::txt_direc_tempozip; break;
        default: return;  // the save folder's label opens nothing
    }
    view_.open_file_manager(paths::native(view_.field(f)));
}

void frm_setuputenteLogic::field_DblClick(SetupField f) {
    const FolderPick* pick = folder_pick(f);
    if (!pick) return;
    view_.set_label_red(pick->label, true);
    const std::string chosen = view_.browse_folder(pick->title, paths::native(view_.field(f)));
    if (!chosen.empty()) view_.set_field(f, chosen);
    view_.set_label_red(pick->label, false);
}

}  // namespace velarion
