// The main window's logic (Form1Logic): the load step, the on/off box
// (Check1), the timer tick (Timer1), the tray events, the menus, the resize
// rule and the unload. The front ends forward their events here
// and show what it asks of the View.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "setup/setup_context.h"
#include "spool/report_reader.h"
#include "spool/scan.h"

namespace velarion {

struct Agent;
class InstanceGuard;

// The dialogs the menus open, shown by the front end (a window-less front end has none).
class DialogOpener {
public:
    virtual ~DialogOpener() = default;
    // frm_setuputente, not modal.
    virtual void show_setuputente(const SetupContext& ctx) = 0;
    // Form3, modal.
    virtual void exec_form3(Runtime& rt) = 0;
};

enum class LoadResult {
    Ready,       // the load step ran to its end
    EndProcess,  // a start-up refusal: the process ends (exit status 1)
    Stopped,     // an error box was shown and the rest of the load step skipped
};

// The resize rule, in twips: where Label1 and List1 go.
struct WindowLayout {
    bool hide = false;    // minimised: hide to the tray
    bool apply = false;   // lay the controls out with the values below
    int label_top = 0, label_width = 0;
    int list_height = 0, list_width = 0;
};
WindowLayout resize_rule(bool minimised, int inner_width, int inner_height);

class Form1Logic {
public:
    // In place of the spool scan: what a tick runs (tests).
    using ScanHook = std::function<void(Form1Logic&)>;
    // args: the ten command-line slots; scan: run by the tick instead of the
    // scanner's LEGGI_DIR when given.
    Form1Logic(Agent& a, std::vector<std::string> args, ScanHook scan = {});
    Form1Logic(const Form1Logic&) = delete;
    Form1Logic& operator=(const Form1Logic&) = delete;

    LoadResult load();
    // The single-instance check of the load step, once the operator's work
    // folder is known (none: no check, as in tests).
    void set_instance_guard(InstanceGuard* guard) { guard_ = guard; }

    // Check1 click with its new state (true: the agent is switched off).
    void check1_click(bool checked);
    // Checks Check1 and runs its click handler (what the scan and the mail
    // transports run to switch the agent off).
    void switch_off();
    void timer_tick();
    // Tray events by their message code: 514, 515, 517.
    void tray_event(int code);
    void mPopRestore();
    // "Riprova ora": every deferred message of the operator is due at once and
    // a hold on delivery ends, as velarion --retry-now all does.
    void mPopRetry();
    // "Apri cartella non inviati": the folder of parked messages in the file manager.
    void mPopUnsent();
    std::string unsent_folder() const;
    // mPopExit, File_2 and the window's close: unload and end. During a tick
    // the close waits until the tick is over.
    void request_close();
    void chgoper();
    // File_1: the user parameters dialog; mailsertu: the support request.
    void File_1();
    void mailsertu();
    void set_dialogs(DialogOpener* dialogs) { dialogs_ = dialogs; }
    // What the settings dialogs are lent: the settings and their re-read.
    SetupContext setup_context();
    // Writes the activity lines to the log file when the last write is a
    // minute old or more (the front ends call it between ticks as well).
    void flush_if_due();

    bool checked() const { return checked_; }
    bool timer_enabled() const { return timer_enabled_; }
    int timer_interval() const { return interval_; }
    bool scanning() const { return in_tick_; }
    bool closed() const { return closed_; }
    int scans_started() const { return scans_; }
    // The spool scanner the tick runs (its run state and mail session last for the run).
    SpoolScanner& scanner() { return scanner_; }

private:
    LoadResult continuation();
    bool single_instance();
    void outlook_check();
    void set_timer(bool enabled);
    void unload();
    void terminate();
    void close_now();
    void flush_now();
    void report_state();

    Agent& a_;
    InstanceGuard* guard_ = nullptr;
    std::vector<std::string> args_;
    ScanHook scan_;
    SpoolScanner scanner_;
    spool::ReportReader reports_;
    DialogOpener* dialogs_ = nullptr;
    bool checked_ = true;
    bool timer_enabled_ = false;
    int interval_ = 0;
    bool in_tick_ = false;
    bool close_pending_ = false;
    std::string metrics_trouble_;  // why the metrics file was last not written ("" when it was)
    bool closed_ = false;
    int scans_ = 0;
    long long last_flush_ = 0;  // when the log was last written (to_seconds)
    long long last_report_ = 0;  // when the queue's state was last reported (to_seconds)
};

}  // namespace velarion
