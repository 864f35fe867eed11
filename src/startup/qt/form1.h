// Form1: the main window with List1, Label1, Check1, the operator and mail
// client labels, the polling timer Timer1, the menus and the tray icon. It
// shows what Form1Logic asks and forwards the user's actions to it.
#pragma once

#include <QMainWindow>
#include <QPointer>

#include "common/view.h"
#include "setup/qt/frm_setuputente.h"
#include "startup/main_window.h"

class QAction;
class QCheckBox;
class QLabel;
class QListWidget;
class QMenu;
class QSystemTrayIcon;
class QTimer;

namespace velarion {
class ActivityList;
}  // namespace velarion

namespace velarion::qt {

class Form1 final : public QMainWindow, public View, public DialogOpener {
    Q_OBJECT
public:
    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    // Shows the activity list in List1 (lines converted from Windows-1252).
    void attach_list(ActivityList& list);
    // Forwards the timer, Check1, tray, menus and close to the logic.
    void attach_logic(Form1Logic* logic);

    // View
    void set_caption(const std::string& text) override;
    std::string caption() const override;
    void set_status(const std::string& text) override;
    void set_operator_label(const std::string& text) override;
    void set_mail_client_label(const std::string& text) override;
    void show_pro_label(bool visible) override;
    void set_active_look(bool active, const std::string& tray_tip) override;
    void set_check(bool checked) override;
    void set_timer(int interval_ms, bool enabled) override;
    void show_window() override;
    void set_tray_icon(bool present, const std::string& tip) override;
    void set_tray_tip(const std::string& tip) override;
    void tray_message(const std::string& title, const std::string& text) override;
    void set_warning(const std::string& text) override;
    void show_message_box(const std::string& text) override;
    std::string input_box(const std::string& prompt, const std::string& title, const std::string& def) override;
    void process_events() override;
    void close_window() override;
    void restore_window() override;
    void hide_window() override;
    void popup_tray_menu() override;
    bool open_folder(const std::string& path) override;

    // DialogOpener
    void show_setuputente(const SetupContext& ctx) override;
    void exec_form3(Runtime& rt) override;
    // The user parameters window while it is open.
    frm_setuputente* setuputente() const { return setuputente_; }

    bool window_closed() const { return closed_; }

    // The controls, by their names (owned by the window).
    QListWidget* List1 = nullptr;
    QLabel* Label1 = nullptr;
    QCheckBox* Check1 = nullptr;
    QLabel* lblOPER = nullptr;
    QLabel* lblclientMAPI = nullptr;
    QLabel* LabelPRO = nullptr;
    QTimer* Timer1 = nullptr;
    QSystemTrayIcon* tray = nullptr;  // null where the desktop has no tray
    QMenu* mPopupSys = nullptr;
    QAction* mPopRestore = nullptr;
    QAction* mPopRetry = nullptr;   // "Riprova ora"
    QAction* mPopUnsent = nullptr;  // "Apri cartella non inviati"
    QAction* mPopExit = nullptr;
    QAction* chgoper = nullptr;
    QAction* File_1 = nullptr;
    QAction* File_2 = nullptr;
    QAction* mailsertu = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void create_controls();
    void create_menus();
    void create_tray();
    void lay_out();
    // Adds a line to List1, which keeps the last kShownLines of them.
    void show_line(const std::string& line);
    static constexpr int kShownLines = 500;
    // The icons, tip and status line of the current look: the warning's while there is one.
    void apply_look();

    bool active_ = false;   // the active look (PictureON) was asked for last
    QString tip_;           // the tray tip without a warning
    QString status_;        // Label1 without a warning
    QString warning_;       // the condition shown ("" for none)

    ActivityList* list_ = nullptr;
    Form1Logic* logic_ = nullptr;
    QPointer<frm_setuputente> setuputente_;
    bool closed_ = false;
};

}  // namespace velarion::qt
