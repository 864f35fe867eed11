#include "setup/user_params_dialog.h"

#include <map>
#include <vector>

#include <gtest/gtest.h>

#include "setup_fixture.h"

namespace velarion {
namespace {

using testing::SetupInstall;

// A dialog window that keeps its fields and records what the logic asked.
struct ScriptedView : SetupUtenteView {
    std::string caption, app_label;
    std::map<SetupField, std::string> fields;
    std::vector<std::string> boxes, browsed, opened, events;
    std::vector<SetupField> focused;
    std::string browse_answer;
    bool closed = false;
    int cdo_opened = 0;

    void set_caption(const std::string& t) override { caption = t; }
    void set_app_label(const std::string& t) override { app_label = t; }
    void set_field(SetupField f, const std::string& t) override { fields[f] = t; }
    std::string field(SetupField f) const override {
        auto it = fields.find(f);
        return it == fields.end() ? "" : it->second;
    }
    void focus_field(SetupField f) override { focused.push_back(f); }
    void set_label_red(DirLabel l, bool red) override {
        events.push_back(std::string(red ? "red " : "normal ") + std::to_string(static_cast<int>(l)));
    }
    std::string browse_folder(const std::string& title, const std::string& start) override {
        events.push_back("browse " + title + " from " + start);
        return browse_answer;
    }
    void open_file_manager(const std::string& folder) override { opened.push_back(folder); }
    void message_box(const std::string& t) override { boxes.push_back(t); }
    void open_cdo() override { ++cdo_opened; }
    void close_dialog() override { closed = true; }
};

const char* const kIni =
    "[AB]\npwd_Operatore=segreto\nlogin_email=ab\npwd_email=pw\nEMailAddr=ab@example.it\nPath=C:\\spool\\ab\\\n"
    "send_dir=/send/\ntempozip_dir=/w/tempozip/\nDir_Loghi=/loghi/\ntipoinvio=sempre save\nParGenerali=NORIF\n"
    "unione_DIR=/merge/\nChiaveRegistry=LOCAL MACHINE\n[GLOBAL]\nTiming=1000\n";

TEST(SetupUtente, OpeningShowsTheOperatorsKeysAndTheListDefaults) {
    SetupInstall in(kIni);
    ScriptedView v;
    frm_setuputenteLogic logic(in.context(), v);
    logic.Form_Load();
    EXPECT_EQ(v.caption, "Parametri Utenti " + in.dir.path() + "velarion.ini");
    EXPECT_EQ(v.app_label, "Path Posizione Velarion.exe    /opt/velarion/");
    EXPECT_EQ(v.field(SetupField::txt_operatore), "AB");
    EXPECT_EQ(v.field(SetupField::txt_pwdoperatore), "segreto");
    EXPECT_EQ(v.field(SetupField::txt_loginEmail), "ab");
    EXPECT_EQ(v.field(SetupField::txt_PwdEmail), "pw");
    EXPECT_EQ(v.field(SetupField::txt_email_addr), "ab@example.it");
    EXPECT_EQ(v.field(SetupField::txt_direc_files), "C:\\spool\\ab\\");
    EXPECT_EQ(v.field(SetupField::txt_direc_backup), "/send/");
    EXPECT_EQ(v.field(SetupField::txt_direc_tempozip), "/w/tempozip/");
    EXPECT_EQ(v.field(SetupField::txt_direc_loghi), "/loghi/");
    EXPECT_EQ(v.field(SetupField::txtpargenerali), "NORIF");
    EXPECT_EQ(v.field(SetupField::txt_direc_unione), "/merge/");
    EXPECT_EQ(v.field(SetupField::cmbregmail), "LOCAL MACHINE");
    // "sempre save" is none of the choices: the default, in memory too.
    EXPECT_EQ(v.field(SetupField::cboTipoInvio), "PER MESSAGGIO");
    EXPECT_EQ(in.t.cfg.op.tipoinvio, "PER MESSAGGIO");
    EXPECT_EQ(in.t.cfg.op.ChiaveRegistry, "LOCAL MACHINE");
    EXPECT_TRUE(v.boxes.empty());
}

TEST(SetupUtente, EmptyKeysGetTheirDefaults) {
    SetupInstall in("[AB]\ntempozip_dir=\\\n[GLOBAL]\nTiming=1000\n");
    ScriptedView v;
    frm_setuputenteLogic logic(in.context(), v);
    logic.Form_Load();
    // The work folder: the personal one made at start-up; the spool: the configuration directory.
    EXPECT_EQ(v.field(SetupField::txt_direc_tempozip), in.dir / "docs/Velarion/tempozip");
    EXPECT_EQ(v.field(SetupField::txt_direc_files), in.dir.path());
    EXPECT_EQ(v.field(SetupField::cboTipoInvio), "PER MESSAGGIO");
    EXPECT_EQ(v.field(SetupField::cmbregmail), "DA PROGRAMMA");
    EXPECT_EQ(in.t.cfg.op.ChiaveRegistry, "DA PROGRAMMA");
    // The folders stay as loaded until a save writes them.
    EXPECT_EQ(in.t.cfg.op.tempozip_dir, "\\");
    EXPECT_EQ(in.t.cfg.op.Path, "");
}

TEST(SetupUtente, WorkFolderMustEndWithTempozip) {
    for (const char* ok : {"/w/TEMPOZIP", "/w/TEMPOZIP\\", "/w/tempozip/", "C:\\dati\\TempoZip\\", "tempozip"})
        EXPECT_TRUE(tempozip_name_ok(ok)) << ok;
    for (const char* bad : {"/w/temp", "/w/temp/", "/w/tempozip2", "/w/tempozip//", "", "/w/tempozip.old"})
        EXPECT_FALSE(tempozip_name_ok(bad)) << bad;

    SetupInstall in(kIni);
    const std::string before = in.ini();
    ScriptedView v;
    frm_setuputenteLogic logic(in.context(), v);
    logic.Form_Load();
    v.fields[SetupField::txt_direc_tempozip] = "/w/temp";
    v.fields[SetupField::txt_pwdoperatore] = "nuova";
    EXPECT_FALSE(logic.cmdSave_Click());
    ASSERT_EQ(v.boxes.size(), 1u);
    EXPECT_EQ(v.boxes[0], "la directory temporanea per i file deve terminare con TEMPOZIP");
    EXPECT_FALSE(v.closed);
    EXPECT_EQ(in.ini(), before);
    EXPECT_EQ(in.reloads, 0);
}

TEST(SetupUtente, ListsAcceptOnlyTheirExactChoices) {
    SetupInstall in(kIni);
    ScriptedView v;
    frm_setuputenteLogic logic(in.context(), v);
    logic.Form_Load();
    EXPECT_FALSE(logic.may_leave(SetupField::cboTipoInvio, "sempre send"));
    EXPECT_FALSE(logic.may_leave(SetupField::cboTipoInvio, "SEMPRE SEND "));
    EXPECT_FALSE(logic.may_leave(SetupField::cboTipoInvio, ""));
    for (const char* c : kTipoInvioChoices) EXPECT_TRUE(logic.may_leave(SetupField::cboTipoInvio, c));
    EXPECT_FALSE(logic.may_leave(SetupField::cmbregmail, "local machine"));
    for (const char* c : kRegistryChoices) EXPECT_TRUE(logic.may_leave(SetupField::cmbregmail, c));
    EXPECT_FALSE(logic.may_leave(SetupField::cmbregmail, "SEMPRE SEND"));
    EXPECT_TRUE(logic.may_leave(SetupField::txtpargenerali, "anything"));

    // A save with a list field that could not be left writes nothing and goes back to it.
    const std::string before = in.ini();
    v.fields[SetupField::cboTipoInvio] = "sempre send";
    EXPECT_FALSE(logic.cmdSave_Click());
    EXPECT_EQ(in.ini(), before);
    ASSERT_EQ(v.focused.size(), 1u);
    EXPECT_EQ(v.focused[0], SetupField::cboTipoInvio);
    EXPECT_FALSE(v.closed);
    EXPECT_TRUE(v.boxes.empty());
}

TEST(SetupUtente, SaveWritesTheKeysInOrderAndReReads) {
    // An operator with no section yet: the keys appear in the order written.
    SetupInstall in("[GLOBAL]\nTiming=1000\n");
    ScriptedView v;
    frm_setuputenteLogic logic(in.context(), v);
    logic.Form_Load();
    v.fields[SetupField::txt_pwdoperatore] = "p1";
    v.fields[SetupField::txt_loginEmail] = "l1";
    v.fields[SetupField::txt_PwdEmail] = "p2";
    v.fields[SetupField::txt_email_addr] = "ab@example.it";
    v.fields[SetupField::txt_direc_files] = "/spool/ab/";
    v.fields[SetupField::txt_direc_backup] = "/send/";
    v.fields[SetupField::txt_direc_tempozip] = "/w/TEMPOZIP";
    v.fields[SetupField::txt_direc_loghi] = "";
    v.fields[SetupField::cboTipoInvio] = "SEMPRE SEND";
    v.fields[SetupField::txtpargenerali] = "NORIF PREPARA:/prep;";
    v.fields[SetupField::txt_direc_unione] = "/merge/";
    v.fields[SetupField::cmbregmail] = "CURRENT USER";
    v.fields[SetupField::txt_operatore] = "ZZ";  // shown, never saved
    ASSERT_TRUE(logic.cmdSave_Click());
    EXPECT_EQ(in.ini_lines(),
              (std::vector<std::string>{"[GLOBAL]", "Timing=1000", "[AB]", "pwd_Operatore=p1", "login_email=l1",
                                        "pwd_email=p2", "EMailAddr=ab@example.it", "Path=/spool/ab/",
                                        "send_dir=/send/", "tempozip_dir=/w/TEMPOZIP", "Dir_Loghi=",
                                        "TipoInvio=SEMPRE SEND", "ParGenerali=NORIF PREPARA:/prep;",
                                        "unione_dir=/merge/", "ChiaveRegistry=CURRENT USER"}));
    EXPECT_TRUE(v.closed);
    EXPECT_EQ(in.reloads, 1);
    // The re-read values, derived again.
    EXPECT_EQ(in.t.cfg.op.pwd_Operatore, "p1");
    EXPECT_EQ(in.t.cfg.op.tipoinvio, "SEMPRE SEND");
    EXPECT_EQ(in.t.cfg.work_dir, "/w/TEMPOZIP/");
    EXPECT_EQ(in.t.cfg.logo_dir, "/spool/ab/loghi/");
    EXPECT_TRUE(in.t.cfg.prepara);
    EXPECT_EQ(in.t.cfg.prepare_dir, "/prep/");
    EXPECT_TRUE(in.t.list.lines().empty());
}

TEST(SetupUtente, SaveKeepsTheFilesOwnKeysAndOtherSections) {
    SetupInstall in(kIni);
    ScriptedView v;
    frm_setuputenteLogic logic(in.context(), v);
    logic.Form_Load();
    v.fields[SetupField::cmbregmail] = "DA PROGRAMMA";
    ASSERT_TRUE(logic.cmdSave_Click());
    // Keys already there are rewritten in place, in their own spelling ("tipoinvio" is "TipoInvio").
    EXPECT_EQ(in.ini_lines(),
              (std::vector<std::string>{"[AB]", "pwd_Operatore=segreto", "login_email=ab", "pwd_email=pw",
                                        "EMailAddr=ab@example.it", "Path=C:\\spool\\ab\\", "send_dir=/send/",
                                        "tempozip_dir=/w/tempozip/", "Dir_Loghi=/loghi/", "tipoinvio=PER MESSAGGIO",
                                        "ParGenerali=NORIF", "unione_DIR=/merge/", "ChiaveRegistry=DA PROGRAMMA",
                                        "[GLOBAL]", "Timing=1000"}));
}

TEST(SetupUtente, ExitWritesNothing) {
    SetupInstall in(kIni);
    const std::string before = in.ini();
    ScriptedView v;
    frm_setuputenteLogic logic(in.context(), v);
    logic.Form_Load();
    v.fields[SetupField::txt_pwdoperatore] = "cambiata";
    logic.CmdExit_Click();
    EXPECT_TRUE(v.closed);
    EXPECT_EQ(in.ini(), before);
    EXPECT_EQ(in.reloads, 0);
    EXPECT_EQ(in.t.cfg.op.pwd_Operatore, "segreto");
    logic.cmdcdo_Click();
    EXPECT_EQ(v.cdo_opened, 1);
}

TEST(SetupUtente, FolderBrowserAndFileManager) {
    SetupInstall in(kIni);
    ScriptedView v;
    frm_setuputenteLogic logic(in.context(), v);
    logic.Form_Load();

    // Cancelled: the field stays; the label is red only while the browser is open.
    logic.field_DblClick(SetupField::txt_direc_tempozip);
    EXPECT_EQ(v.field(SetupField::txt_direc_tempozip), "/w/tempozip/");
    const std::string tz = std::to_string(static_cast<int>(DirLabel::lbl_dir_tempozip));
    EXPECT_EQ(v.events, (std::vector<std::string>{"red " + tz,
                                                  "browse Directory per copiare i files da elaborare from /w/tempozip/",
                                                  "normal " + tz}));
    // Chosen: the field takes the folder.
    v.events.clear();
    v.browse_answer = "/chosen/spool";
    logic.field_DblClick(SetupField::txt_direc_files);
    EXPECT_EQ(v.field(SetupField::txt_direc_files), "/chosen/spool");
    EXPECT_EQ(v.events[1], "browse Directory posizione posta from C:/spool/ab/");
    v.events.clear();
    v.browse_answer.clear();
    logic.field_DblClick(SetupField::txt_direc_backup);
    logic.field_DblClick(SetupField::txt_direc_loghi);
    EXPECT_EQ(v.events[1], "browse Directory Backup posta from /send/");
    EXPECT_EQ(v.events[4], "browse Directory posizione loghi e immagine from /loghi/");
    // Fields that are no folders open no browser.
    v.events.clear();
    logic.field_DblClick(SetupField::txt_direc_unione);
    logic.field_DblClick(SetupField::txtpargenerali);
    EXPECT_TRUE(v.events.empty());

    // The file manager on the folders of three labels, "\" turned into "/".
    v.fields[SetupField::txt_direc_files] = "C:\\spool\\ab\\";
    logic.label_DblClick(DirLabel::lbl_Directory);
    logic.label_DblClick(DirLabel::lbl_dir_loghi);
    logic.label_DblClick(DirLabel::lbl_dir_tempozip);
    logic.label_DblClick(DirLabel::lbl_dir_backup);
    EXPECT_EQ(v.opened, (std::vector<std::string>{"C:/spool/ab/", "/loghi/", "/w/tempozip/"}));
}

}  // namespace
}  // namespace velarion
