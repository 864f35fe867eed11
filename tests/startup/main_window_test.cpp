#include "startup/main_window.h"

#include <filesystem>
#include <stdexcept>

#include <gtest/gtest.h>

#include "common/run_log.h"
#include "common/version.h"
#include "startup/command_line.h"
#include "startup/instance_guard.h"
#include "support/test_support.h"

namespace velarion {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::RecordingView;
using testing::TempDir;
using testing::write_file;

const std::string kStarting =
    "Inizializzazione velarion in corso ,per disattivare il dispositivo , agire sulla casella";

// A view whose "let pending events run" delivers a further timer tick, as a
// window does when the timer fires during a scan's wait.
struct TickingView : RecordingView {
    Form1Logic* logic = nullptr;
    void process_events() override {
        ++events_pumped;
        if (logic) logic->timer_tick();
    }
};

// A temporary installation with velarion.ini and a fixed clock (Monday 7 December 2026).
struct Install {
    TempDir dir;
    FixedClock clock{make_datetime(2026, 12, 7, 10, 30, 0)};
    TickingView view;
    Agent agent{clock, view};
    Settings& settings = agent.settings;
    ActivityList& list = agent.list;

    Install() {
        settings.host.product_name = "Debian GNU/Linux 12 (bookworm)";
        settings.host.program_dir = dir / "prog/";
        settings.host.documents_dir = dir / "docs";
    }
    std::string cfg() const { return dir / "cfg/"; }
    std::string work() const { return dir / "tempozip/"; }
    void ini(const std::string& operator_keys, const std::string& timing = "Timing=1500\n",
             const std::string& extra = "") {
        write_file(cfg() + "velarion.ini", "[AB]\nPath=/spool/ab/\nDir_Loghi=/loghi/ab/\ntempozip_dir=" + work() + "\n" +
                                               operator_keys + "\n[CD]\nPath=/spool/cd/\n[GLOBAL]\n" + timing +
                                               "[MAPI]\nclient=Posta Demo\n" + extra);
    }
    std::vector<std::string> args(const std::string& line) const { return getcommandline(line, 10); }
    std::string log() const { return read_file(work() + "log/velarion_log_lun_07.txt"); }
};

TEST(LoadStep, RunsInOrderAndSwitchesTheAgentOn) {
    Install in;
    in.ini("");
    in.settings.sw.smtp_component = true;
    in.settings.derive();
    in.settings.host.condensed_font = true;
    Form1Logic logic(in.agent, in.args("ope:AB ini:" + in.cfg()));
    ASSERT_EQ(logic.load(), LoadResult::Ready);

    EXPECT_EQ(in.view.caption_text,
              std::string(kVersionText) + " - DLLNEW - CDO - Cond - " + in.settings.host.user_name);
    EXPECT_FALSE(in.settings.host.user_name.empty());
    EXPECT_LE(in.settings.host.user_name.size(), 25u);
    EXPECT_TRUE(in.view.window_shown);
    EXPECT_TRUE(in.view.tray_present);
    EXPECT_EQ(in.view.operator_label, "Operatore: AB ");
    EXPECT_EQ(in.view.mail_client_label, "Posta Demo (Int)");
    EXPECT_FALSE(in.view.pro_label);
    EXPECT_TRUE(fs::is_directory(in.dir / "docs/Velarion/tempozip"));

    // Switched on: starting state, timer running at "Timing".
    EXPECT_FALSE(in.view.checked);
    EXPECT_FALSE(logic.checked());
    EXPECT_TRUE(in.view.timer_enabled);
    EXPECT_EQ(in.view.timer_interval, 1500);
    EXPECT_EQ(in.view.status, kStarting);
    EXPECT_TRUE(in.view.active);
    EXPECT_EQ(in.view.tray_tip, "Velarion attivato ");

    // The start lines went to the log with the operator line last; the list is empty again.
    const std::string log = in.log();
    const std::string ts = "07/12/2026 10:30:00";
    const auto sep = log.find(ts + " " + std::string(71, '*') + "\n");
    const auto sys = log.find(ts + " Sistema Operativo Debian GNU/Linux 12 (bookworm) System Root \n");
    const auto ope = log.find(ts + " Operatore = AB /spool/ab/ /loghi/ab/\n");
    EXPECT_EQ(sep, 0u);
    EXPECT_NE(sys, std::string::npos);
    EXPECT_NE(ope, std::string::npos);
    EXPECT_LT(sep, sys);
    EXPECT_LT(sys, ope);
    EXPECT_EQ(log.substr(ope).find('\n'), log.size() - ope - 1);  // the operator line is the last
    EXPECT_EQ(in.list.size(), 0u);
    EXPECT_TRUE(in.view.boxes.empty());
}

TEST(LoadStep, RefusalsEndTheProcessWithTheirMessages) {
    {
        Install in;  // no velarion.ini
        Form1Logic logic(in.agent, in.args("ope:AB ini:" + in.dir / "cfg"));
        EXPECT_EQ(logic.load(), LoadResult::EndProcess);
        ASSERT_EQ(in.view.boxes.size(), 1u);
        EXPECT_EQ(in.view.boxes[0], "Impossibile accedere al file " + in.cfg() +
                                        "velarion.ini\nControllare il parametro ini:dir nella riga di comando");
        EXPECT_FALSE(fs::exists(in.work()));
    }
    {
        Install in;
        in.ini("");
        Form1Logic logic(in.agent, in.args("ope:AB ini:"));
        EXPECT_EQ(logic.load(), LoadResult::EndProcess);
        ASSERT_EQ(in.view.boxes.size(), 1u);
        EXPECT_EQ(in.view.boxes[0],
                  "Non e' stato specificato nessuna directory dove posizionato il file velarion.ini (ini:dir)");
    }
    {
        Install in;
        in.ini("");
        Form1Logic logic(in.agent, in.args("ope:ABCD ini:" + in.cfg()));
        EXPECT_EQ(logic.load(), LoadResult::EndProcess);
        ASSERT_EQ(in.view.boxes.size(), 1u);
        EXPECT_EQ(in.view.boxes[0],
                  "Lunghezza Codice operatore maggiore di 3 incompatibile con la lunghezza degli operatori KORVANTECH");
        EXPECT_FALSE(fs::exists(in.work()));
    }
    for (const char* answer : {"", "fine", "FINE"}) {
        Install in;
        in.ini("");
        in.view.input_answers = {answer};
        Form1Logic logic(in.agent, in.args("ini:" + in.cfg()));
        EXPECT_EQ(logic.load(), LoadResult::EndProcess) << answer;
    }
}

// A lock that another agent holds, or one that could not be made.
struct FakeGuard : InstanceGuard {
    bool running = false;
    std::string why;
    int raised = 0;
    std::vector<std::string> asked;  // work folder and name of each try
    bool another_running(const std::string& work_dir, const std::string& name) override {
        asked.push_back(work_dir + "|" + name);
        return running;
    }
    void raise_other() override { ++raised; }
    std::string trouble() const override { return why; }
};

TEST(LoadStep, ASecondAgentOfTheOperatorIsRefusedUnlessPlusY) {
    for (const char* plus : {"", "plus:n"}) {
        Install in;
        in.ini("");
        FakeGuard g;
        g.running = true;
        const auto args = in.args(std::string(plus) + " ope:ab ini:" + in.cfg());
        apply_main_switches(in.settings.sw, args);
        Form1Logic logic(in.agent, args);
        logic.set_instance_guard(&g);
        EXPECT_EQ(logic.load(), LoadResult::EndProcess) << plus;
        ASSERT_EQ(in.view.boxes.size(), 1u);
        EXPECT_EQ(in.view.boxes[0], "Programma gia' in esecuzione");
        EXPECT_EQ(g.raised, 1);
        // The lock of the operator, in its work folder, whatever the case it was typed in.
        EXPECT_EQ(g.asked, std::vector<std::string>{in.work() + "|AB"});
        EXPECT_FALSE(in.view.timer_enabled);
    }
    // plus:y runs beside it; the lock is still tried (a later agent without it is refused).
    Install in;
    in.ini("");
    FakeGuard g;
    g.running = true;
    g.why = "x: y";
    const auto args = in.args("plus:Y ope:AB ini:" + in.cfg());
    apply_main_switches(in.settings.sw, args);
    Form1Logic logic(in.agent, args);
    logic.set_instance_guard(&g);
    EXPECT_EQ(logic.load(), LoadResult::Ready);
    EXPECT_TRUE(in.view.boxes.empty());
    EXPECT_EQ(g.asked.size(), 1u);
}

TEST(LoadStep, ALockThatCannotBeMadeStopsTheStart) {
    Install in;
    in.ini("");
    FakeGuard g;
    g.why = "/w/in_lavorazione/.istanza_CD.lock: Read-only file system";
    Form1Logic logic(in.agent, in.args("ope:CD ini:" + in.cfg()));
    logic.set_instance_guard(&g);
    EXPECT_EQ(logic.load(), LoadResult::EndProcess);
    ASSERT_EQ(in.view.boxes.size(), 1u);
    EXPECT_EQ(in.view.boxes[0], "Impossibile creare il file di blocco dell'istanza /w/in_lavorazione/.istanza_CD.lock: "
                                "Read-only file system (plus:y avvia comunque)");
    // CD has no work folder: the guard is told so.
    EXPECT_EQ(g.asked, std::vector<std::string>{"|CD"});
}

TEST(LoadStep, LongCodesThatAreAllowed) {
    for (const char* line : {"ope:ABCD;X", "ope:TUTTI"}) {
        Install in;
        in.ini("");
        Form1Logic logic(in.agent, in.args(std::string(line) + " ini:" + in.cfg()));
        EXPECT_EQ(logic.load(), LoadResult::Ready) << line;
    }
    // The operator asked for is not checked for length.
    Install in;
    in.ini("");
    in.view.input_answers = {"WXYZ"};
    Form1Logic logic(in.agent, in.args("ini:" + in.cfg()));
    EXPECT_EQ(logic.load(), LoadResult::Ready);
    EXPECT_EQ(in.settings.sw.ope, "WXYZ");
    EXPECT_EQ(in.view.operator_label, "Operatore: WXYZ ");
}

TEST(LoadStep, ConfigurationFileNamedInAnotherCase) {
    Install in;
    in.ini("");
    fs::rename(in.cfg() + "velarion.ini", in.cfg() + "VELARION.INI");
    Form1Logic logic(in.agent, in.args("ope:AB ini:" + in.cfg()));
    EXPECT_EQ(logic.load(), LoadResult::Ready);
    EXPECT_EQ(logic.timer_interval(), 1500);
    EXPECT_EQ(in.settings.op.Path, "/spool/ab/");
}

TEST(LoadStep, DerivesTheSettingsAndKeepsTheMailClientForTheDispatcher) {
    Install in;
    write_file(in.cfg() + "velarion.ini", "[AB]\nPath=/spool/ab\ntempozip_dir=" + in.work() +
                                              "\nlogin_email=ab\nParGenerali=NORIF PREPARA:/prep/ab;\n"
                                              "[GLOBAL]\nTiming=1500\n[MAPI]\nclient=Posta Demo\n");
    Form1Logic logic(in.agent, in.args("ope:AB acc:y ini:" + in.cfg()));
    ASSERT_EQ(logic.load(), LoadResult::Ready);
    // The label's name is the one delivery decides by (Outlook or not).
    EXPECT_EQ(in.settings.host.mail_client, "Posta Demo (Int)");
    EXPECT_EQ(in.settings.host.mail_client, in.view.mail_client_label);
    // Derived once at the load: folders, style file, flags, account.
    EXPECT_EQ(in.settings.work_dir, in.work());
    EXPECT_EQ(in.settings.logo_dir, "/spool/ab/loghi/");
    EXPECT_EQ(in.settings.style_file, "/spool/ab/loghi/loghi.ini");
    EXPECT_TRUE(in.settings.norif);
    EXPECT_EQ(in.settings.prepare_dir, "/prep/ab/");
    EXPECT_EQ(in.settings.account_login, "");
}

TEST(LoadStep, SecondOperatorFaxLabelAndDebugTrace) {
    Install in;
    in.ini("");
    Form1Logic logic(in.agent, in.args("ope:AB;CD fax:pro deb:y int:n ini:" + in.cfg()));
    ASSERT_EQ(logic.load(), LoadResult::Ready);
    EXPECT_EQ(in.view.operator_label, "Operatore: AB CD");
    EXPECT_TRUE(in.view.pro_label);
    EXPECT_EQ(in.view.mail_client_label, "Posta Demo");
    // The debug flag shows the configuration directory and the traces.
    ASSERT_GE(in.view.boxes.size(), 3u);
    EXPECT_EQ(in.view.boxes[0], in.cfg());
    EXPECT_EQ(in.view.boxes[1], "SONO NELLA Leggi_Param_Utenti");
    EXPECT_EQ(in.view.boxes.back(), "Check1_Click");
}

TEST(LoadStep, TimingMustBeAWholeNumber) {
    for (const char* timing : {"", "Timing=abc\n", "Timing=1.5\n", "Timing=0\n", "Timing=99999999999\n"}) {
        Install in;
        in.ini("", timing);
        Form1Logic logic(in.agent, in.args("ope:AB ini:" + in.cfg()));
        EXPECT_EQ(logic.load(), LoadResult::Stopped) << timing;
        ASSERT_EQ(in.view.boxes.size(), 1u) << timing;
        EXPECT_NE(in.view.boxes[0].find("Timing"), std::string::npos);
        EXPECT_FALSE(in.view.timer_enabled);
        EXPECT_EQ(in.view.status, "Velarion disattivato");
        // Unchecking Check1 afterwards cannot start a timer without an interval.
        logic.check1_click(false);
        EXPECT_FALSE(in.view.timer_enabled);
    }
    Install in;
    in.ini("", "Timing= 250 \n");
    Form1Logic logic(in.agent, in.args("ope:AB ini:" + in.cfg()));
    EXPECT_EQ(logic.load(), LoadResult::Ready);
    EXPECT_EQ(logic.timer_interval(), 250);
}

TEST(LoadStep, RunSwitchOnlyLowerCaseYStartsTheAgent) {
    Install in;
    in.ini("");
    Form1Logic logic(in.agent, in.args("ope:AB run:Y ini:" + in.cfg()));
    ASSERT_EQ(logic.load(), LoadResult::Ready);
    EXPECT_TRUE(logic.checked());
    EXPECT_TRUE(in.view.checked);
    EXPECT_FALSE(in.view.timer_enabled);
    EXPECT_EQ(in.view.timer_interval, 1500);
    EXPECT_EQ(in.view.status, "Velarion disattivato");
    EXPECT_EQ(in.view.tray_tip, "Velarion");
}

TEST(LoadStep, OutlookVersionRule) {
    {
        Install in;
        in.ini("ParGenerali=NORIF OUTLOOK 2010");
        Form1Logic logic(in.agent, in.args("ope:AB ini:" + in.cfg()));
        ASSERT_EQ(logic.load(), LoadResult::Ready);
        // One line from the settings (already in the log), one from the check.
        EXPECT_NE(in.log().find("07/12/2026 10:30:00 Outlook versione  2010\n"), std::string::npos);
        ASSERT_EQ(in.list.size(), 1u);
        EXPECT_EQ(in.list.lines()[0], "07/12/2026 10:30:00 Outlook versione  2010");
        EXPECT_TRUE(in.view.timer_enabled);
    }
    {
        Install in;
        in.ini("ParGenerali=OUTLOOK 2016");
        Form1Logic logic(in.agent, in.args("ope:AB ini:" + in.cfg()));
        ASSERT_EQ(logic.load(), LoadResult::Ready);
        ASSERT_EQ(in.view.boxes.size(), 1u);
        EXPECT_EQ(in.view.boxes[0], "Versione Outlook non supportata");
        EXPECT_TRUE(logic.checked());
        EXPECT_FALSE(in.view.timer_enabled);
        EXPECT_EQ(in.view.status, "Velarion disattivato");
        EXPECT_EQ(in.view.tray_tip, "Velarion disattivato ");
        EXPECT_FALSE(in.view.active);
    }
    {
        Install in;
        in.ini("ParGenerali=NORIF");
        Form1Logic logic(in.agent, in.args("ope:AB ini:" + in.cfg()));
        ASSERT_EQ(logic.load(), LoadResult::Ready);
        EXPECT_EQ(in.list.size(), 0u);
        EXPECT_EQ(in.log().find("Outlook"), std::string::npos);
    }
}

TEST(Check1, SwitchesOffAndOn) {
    Install in;
    in.ini("");
    Form1Logic logic(in.agent, in.args("ope:AB ini:" + in.cfg()), [](Form1Logic&) {});
    ASSERT_EQ(logic.load(), LoadResult::Ready);

    logic.check1_click(true);
    EXPECT_FALSE(in.view.timer_enabled);
    EXPECT_EQ(in.view.status, "Velarion disattivato");
    EXPECT_FALSE(in.view.active);
    EXPECT_EQ(in.view.tray_tip, "Velarion disattivato ");

    // A tick while switched off runs no scan.
    logic.timer_tick();
    EXPECT_EQ(logic.scans_started(), 0);

    logic.check1_click(false);
    EXPECT_TRUE(in.view.timer_enabled);
    EXPECT_EQ(in.view.status, kStarting);
    EXPECT_TRUE(in.view.active);
    EXPECT_EQ(in.view.tray_tip, "Velarion attivato ");

    logic.timer_tick();
    EXPECT_EQ(in.view.status, "Velarion attivato");
    EXPECT_EQ(logic.scans_started(), 1);
}

TEST(Timer1, ATickDuringAScanStartsNoSecondScan) {
    Install in;
    in.ini("");
    int depth = 0, max_depth = 0, scans = 0;
    Form1Logic logic(in.agent, in.args("ope:AB ini:" + in.cfg()), [&](Form1Logic&) {
        ++scans;
        max_depth = std::max(max_depth, ++depth);
        in.view.process_events();  // the size check's wait: the timer fires meanwhile
        in.view.process_events();
        --depth;
    });
    in.view.logic = &logic;
    ASSERT_EQ(logic.load(), LoadResult::Ready);
    logic.timer_tick();
    EXPECT_EQ(scans, 1);
    EXPECT_EQ(max_depth, 1);
    EXPECT_FALSE(logic.scanning());
    logic.timer_tick();
    EXPECT_EQ(scans, 2);
}

TEST(Timer1, TheScanSwitchesTheAgentOff) {
    Install in;
    in.ini("");
    Form1Logic logic(in.agent, in.args("ope:AB ini:" + in.cfg()), [](Form1Logic& l) { l.switch_off(); });
    ASSERT_EQ(logic.load(), LoadResult::Ready);
    logic.timer_tick();
    EXPECT_TRUE(in.view.checked);
    EXPECT_TRUE(logic.checked());
    EXPECT_FALSE(in.view.timer_enabled);
    EXPECT_EQ(in.view.status, "Velarion disattivato");
}

TEST(Timer1, AnErrorInTheScanBecomesALine) {
    Install in;
    in.ini("");
    Form1Logic logic(in.agent, in.args("ope:AB ini:" + in.cfg()),
                     [](Form1Logic&) { throw std::runtime_error("disco pieno"); });
    ASSERT_EQ(logic.load(), LoadResult::Ready);
    EXPECT_NO_THROW(logic.timer_tick());
    ASSERT_EQ(in.list.size(), 1u);
    EXPECT_EQ(in.list.lines()[0], "07/12/2026 10:30:00 Errore disco pieno in Timer1_Timer");
    EXPECT_FALSE(logic.scanning());
}

TEST(Unload, CloseDuringAScanWaitsForTheTickThenFlushes) {
    Install in;
    in.ini("");
    Form1Logic* self = nullptr;
    bool closed_inside = true;
    Form1Logic logic(in.agent, in.args("ope:AB ini:" + in.cfg()), [&](Form1Logic&) {
        self->request_close();
        closed_inside = self->closed();
        in.list.add(" ancora nella scansione");
    });
    self = &logic;
    ASSERT_EQ(logic.load(), LoadResult::Ready);
    logic.timer_tick();
    EXPECT_FALSE(closed_inside);
    EXPECT_TRUE(logic.closed());
    EXPECT_TRUE(in.view.closed);
    EXPECT_FALSE(in.view.tray_present);
    EXPECT_FALSE(in.view.timer_enabled);
    const std::string log = in.log();
    const auto scan_line = log.find(" ancora nella scansione\n");
    const auto close_line = log.find("07/12/2026 10:30:00 Chiusura VELARION\n");
    ASSERT_NE(close_line, std::string::npos);
    EXPECT_LT(scan_line, close_line);
    EXPECT_EQ(in.list.size(), 0u);
    // Ticks after the close do nothing.
    logic.timer_tick();
    EXPECT_EQ(in.list.size(), 0u);
}

TEST(Menus, ChangeOperator) {
    Install in;
    in.ini("");
    Form1Logic logic(in.agent, in.args("ope:AB ini:" + in.cfg()));
    ASSERT_EQ(logic.load(), LoadResult::Ready);
    in.view.input_answers = {"WXYZ"};
    logic.chgoper();
    EXPECT_EQ(in.settings.sw.ope, "AB");
    EXPECT_EQ(in.view.operator_label, "Operatore: AB ");
    in.view.input_answers = {"CD"};
    logic.chgoper();
    EXPECT_EQ(in.settings.sw.ope, "CD");
    EXPECT_EQ(in.view.operator_label, "Operatore: CD");
    EXPECT_EQ(in.settings.op.Path, "/spool/cd/");
    EXPECT_EQ(in.settings.op.tempozip_dir, "");
}

TEST(Tray, EventsByMessageCode) {
    Install in;
    Form1Logic logic(in.agent, {});
    logic.tray_event(514);
    EXPECT_EQ(in.view.restored, 1);
    logic.tray_event(515);
    EXPECT_EQ(in.view.restored, 3);  // restore, then mPopRestore
    logic.tray_event(517);
    EXPECT_EQ(in.view.tray_menus, 1);
    logic.tray_event(512);
    EXPECT_EQ(in.view.restored, 3);
}

TEST(Resize, Rule) {
    EXPECT_TRUE(resize_rule(true, 9000, 6000).hide);
    EXPECT_FALSE(resize_rule(false, 9000, 1605).apply);  // 1000 twips left: too small
    const WindowLayout l = resize_rule(false, 9000, 1606);
    EXPECT_TRUE(l.apply);
    EXPECT_FALSE(l.hide);
    EXPECT_EQ(l.label_top, 1001);
    EXPECT_EQ(l.label_width, 8700);
    EXPECT_EQ(l.list_height, 6);
    EXPECT_EQ(l.list_width, 8700);
}

}  // namespace
}  // namespace velarion
