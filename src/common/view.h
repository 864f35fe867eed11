// What the window logic asks of a front end. The Qt widgets and the headless
// runner implement it; the core never sees a widget.
#pragma once

#include <string>

namespace velarion {

class View {
public:
    virtual ~View() = default;

    virtual void set_caption(const std::string& text) = 0;
    virtual std::string caption() const = 0;
    virtual void set_status(const std::string& text) = 0;         // Label1
    virtual void set_operator_label(const std::string& text) = 0;  // lblOPER
    virtual void set_mail_client_label(const std::string& text) = 0;  // lblclientMAPI
    virtual void show_pro_label(bool visible) = 0;                 // LabelPRO
    // Active look: list colour, window and tray icon (PictureON/PictureOFF), tray tip.
    virtual void set_active_look(bool active, const std::string& tray_tip) = 0;
    virtual void set_check(bool checked) = 0;                      // Check1 without its handler
    virtual void set_timer(int interval_ms, bool enabled) = 0;     // Timer1
    virtual void show_window() = 0;
    virtual void set_tray_icon(bool present, const std::string& tip) = 0;
    // A balloon tip on the tray icon.
    virtual void tray_message(const std::string& title, const std::string& text) = 0;
    // The tray icon's tip text (what the pointer shows over it): progress and
    // delivery reports.
    virtual void set_tray_tip(const std::string& tip) = 0;
    // A condition the agent waits out by itself (a mail server that cannot be
    // reached): the warning look of the icon, its tip and the status line say
    // `text`; "" ends it. Never a box: nobody has to click anything.
    virtual void set_warning(const std::string& /*text*/) {}
    // A message box (blocks in the window; standard error when headless).
    // Control characters of the text are shown as "?", except the line
    // breaks ("\n") that the program's own texts are made of.
    void message_box(const std::string& text);
    // An input box; returns the answer ("" when cancelled or headless).
    virtual std::string input_box(const std::string& prompt, const std::string& title,
                                  const std::string& def) = 0;
    // Lets pending window events run (timer ticks included).
    virtual void process_events() = 0;
    // Unloads the window: the front end ends the process after the unload step.
    virtual void close_window() = 0;

    // Tray and window activation (no-ops where there is no window).
    // Normal size, foreground, shown.
    virtual void restore_window() {}
    // Hidden: only the tray icon remains.
    virtual void hide_window() {}
    // Opens the tray menu mPopupSys at the pointer.
    virtual void popup_tray_menu() {}
    // Shows a folder in the desktop's file manager; false when it could not.
    virtual bool open_folder(const std::string& path) { (void)path; return false; }

protected:
    // Shows the message box of message_box(), its text already printable.
    virtual void show_message_box(const std::string& text) = 0;
};

}  // namespace velarion
