// Helpers shared by the tests.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "common/view.h"
#include "platform/os/clock.h"
#include "startup/agent.h"

namespace velarion::testing {

// A temporary folder removed with its contents at the end of the test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }  // with trailing "/"
    std::string operator/(const std::string& name) const { return path_ + name; }

private:
    std::string path_;
};

// A view that records what the core asked of it.
class RecordingView : public View {
public:
    std::string caption_text, status, operator_label, mail_client_label, tray_tip;
    bool pro_label = false, active = false, checked = false, timer_enabled = false;
    bool tray_present = false, window_shown = false, closed = false;
    int timer_interval = 0, events_pumped = 0;
    std::vector<std::string> boxes, tray_messages, tray_tips;
    std::vector<std::string> input_answers;  // answers given to input boxes, in order

    void set_caption(const std::string& t) override { caption_text = t; }
    std::string caption() const override { return caption_text; }
    void set_status(const std::string& t) override { status = t; }
    void set_operator_label(const std::string& t) override { operator_label = t; }
    void set_mail_client_label(const std::string& t) override { mail_client_label = t; }
    void show_pro_label(bool v) override { pro_label = v; }
    void set_active_look(bool a, const std::string& tip) override { active = a; tray_tip = tip; }
    void set_check(bool c) override { checked = c; }
    void set_timer(int ms, bool on) override { timer_interval = ms; timer_enabled = on; }
    void show_window() override { window_shown = true; }
    void set_tray_tip(const std::string& tip) override {
        tray_tip = tip;
        tray_tips.push_back(tip);
    }
    void set_tray_icon(bool present, const std::string& tip) override {
        tray_present = present;
        tray_tip = tip;
    }
    void tray_message(const std::string& title, const std::string& text) override {
        tray_messages.push_back(title + ": " + text);
    }
    void show_message_box(const std::string& text) override { boxes.push_back(text); }
    std::string input_box(const std::string&, const std::string&, const std::string&) override {
        if (input_answers.empty()) return "";
        std::string a = input_answers.front();
        input_answers.erase(input_answers.begin());
        return a;
    }
    void process_events() override { ++events_pumped; }
    void close_window() override { closed = true; }
    int restored = 0, hidden = 0, tray_menus = 0;
    void restore_window() override { ++restored; }
    void hide_window() override { ++hidden; }
    void popup_tray_menu() override { ++tray_menus; }
};

// An agent on a fixed clock and a recording view: settings to fill (call
// cfg.derive() after changing keys), the activity list, and the runtime the
// subsystem routines are handed.
struct TestContext {
    explicit TestContext(DateTime t = make_datetime(2026, 12, 7, 10, 30, 0)) : clock(t), agent(clock, view) {}
    FixedClock clock;
    RecordingView view;
    Agent agent;
    Settings& cfg = agent.settings;
    ActivityList& list = agent.list;
    Runtime& rt = agent.rt;
};

// What a program run by run_program did.
struct ProcessResult {
    int status = -1;  // exit status; -1 when it could not start or was killed
    std::string out, err;
};
// Runs argv[0] (a path) with the given extra environment entries ("NAME=value",
// replacing those of the same name) and returns its exit status and output.
// A run of velarion should give it its own XDG_RUNTIME_DIR (a temporary
// folder) so that parallel tests do not meet its single-instance lock.
ProcessResult run_program(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
// Starts argv[0] the same way without waiting, standard input from
// /dev/null, standard output and error into the two files; the process
// number, or -1 when it could not start.
pid_t start_program(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                    const std::string& out_path, const std::string& err_path);

// Reads a whole file as bytes ("" when missing).
std::string read_file(const std::string& path);
// Writes bytes to a file, creating its folders.
void write_file(const std::string& path, const std::string& bytes);
// Loads the "GLOBAL" and mail keys of the velarion.ini of cfg's configuration
// folder into cfg and derives its values again, as start-up does (operator
// keys the test set stay).
void load_ini_keys(Settings& cfg);
// Dates the file an hour back: a file edited long before it is read, which
// the run's file cache trusts while its stamp is unchanged.
void settle(const std::string& path);

}  // namespace velarion::testing
