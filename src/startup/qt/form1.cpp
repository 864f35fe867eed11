#include "startup/qt/form1.h"

#include <memory>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCursor>
#include <QDesktopServices>
#include <QInputDialog>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>

#include "common/activity_list.h"
#include "delivery/qt/form3.h"
#include "platform/os/text_encoding.h"
#include "startup/main_window.h"
#include "setup/qt/frm_setuputente.h"
#include "startup/qt/icons.h"

namespace velarion::qt {

namespace {
QString from_bytes(const std::string& cp1252) { return QString::fromStdString(text::cp1252_to_utf8(cp1252)); }
std::string to_bytes(const QString& s) { return text::utf8_to_cp1252(s.toStdString()); }

// Top band of the window, above List1: Check1, the operator and mail client labels.
constexpr int kListTop = 60;
constexpr int kLeft = 10;
}  // namespace

Form1::Form1(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("Form1"));
    create_controls();
    create_menus();
    create_tray();
    setWindowIcon(picture_off());
    resize(760, 440);
}

// The activity list is made on this window and goes before it: nothing to detach.
Form1::~Form1() = default;

void Form1::create_controls() {
    auto* central = new QWidget(this);
    setCentralWidget(central);

    Check1 = new QCheckBox(QStringLiteral("Disabiltazione velarion"), central);
    Check1->setObjectName(QStringLiteral("Check1"));
    LabelPRO = new QLabel(QStringLiteral("Gestione WINFAX PRO attivata"), central);
    LabelPRO->setObjectName(QStringLiteral("LabelPRO"));
    LabelPRO->setVisible(false);
    lblOPER = new QLabel(central);
    lblOPER->setObjectName(QStringLiteral("lblOPER"));
    lblclientMAPI = new QLabel(central);
    lblclientMAPI->setObjectName(QStringLiteral("lblclientMAPI"));
    List1 = new QListWidget(central);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setUniformItemSizes(true);
    List1->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    List1->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    List1->setAutoFillBackground(true);
    Label1 = new QLabel(central);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont bold = Label1->font();
    bold.setBold(true);
    Label1->setFont(bold);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
}

void Form1::create_menus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    chgoper = file->addAction(QStringLiteral("Cambia Operatore"));
    chgoper->setObjectName(QStringLiteral("chgoper"));
    File_1 = file->addAction(QStringLiteral("Parametri Utente"));
    File_1->setObjectName(QStringLiteral("File_1"));
    file->addSeparator();
    File_2 = file->addAction(QStringLiteral("Esci"));
    File_2->setObjectName(QStringLiteral("File_2"));
    QMenu* help = menuBar()->addMenu(QStringLiteral("&?"));
    mailsertu = help->addAction(QStringLiteral("Richiesta assistenza"));
    mailsertu->setObjectName(QStringLiteral("mailsertu"));

    mPopupSys = new QMenu(this);
    mPopupSys->setObjectName(QStringLiteral("mPopupSys"));
    mPopRestore = mPopupSys->addAction(QStringLiteral("&Visualizza Velarion"));
    mPopRestore->setObjectName(QStringLiteral("mPopRestore"));
    mPopRetry = mPopupSys->addAction(QStringLiteral("Riprova ora"));
    mPopRetry->setObjectName(QStringLiteral("mPopRetry"));
    mPopUnsent = mPopupSys->addAction(QStringLiteral("Apri cartella non inviati"));
    mPopUnsent->setObjectName(QStringLiteral("mPopUnsent"));
    mPopExit = mPopupSys->addAction(QStringLiteral("&Chiudi Velarion"));
    mPopExit->setObjectName(QStringLiteral("mPopExit"));
}

void Form1::create_tray() {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
    tray = new QSystemTrayIcon(picture_off(), this);
    tray->setContextMenu(mPopupSys);
}

void Form1::attach_list(ActivityList& list) {
    list_ = &list;
    // The window keeps its last lines after the log flush took them from the list.
    list.set_on_add([this](const std::string& line) { show_line(line); });
    list.set_on_clear([this] { List1->clear(); });
    list.set_on_change([this] { List1->scrollToBottom(); });
    List1->clear();
    for (const auto& line : list.lines()) show_line(line);
}

void Form1::show_line(const std::string& line) {
    List1->addItem(from_bytes(line));
    // takeItem hands the item to the caller, which frees it.
    while (List1->count() > kShownLines) std::unique_ptr<QListWidgetItem>(List1->takeItem(0));
    List1->scrollToBottom();
}

void Form1::attach_logic(Form1Logic* logic) {
    logic_ = logic;
    connect(Timer1, &QTimer::timeout, this, [this] { logic_->timer_tick(); });
    connect(Check1, &QCheckBox::clicked, this, [this](bool checked) { logic_->check1_click(checked); });
    connect(mPopRestore, &QAction::triggered, this, [this] { logic_->mPopRestore(); });
    connect(mPopExit, &QAction::triggered, this, [this] { logic_->request_close(); });
    connect(mPopRetry, &QAction::triggered, this, [this] { logic_->mPopRetry(); });
    connect(mPopUnsent, &QAction::triggered, this, [this] { logic_->mPopUnsent(); });
    connect(File_2, &QAction::triggered, this, [this] { logic_->request_close(); });
    connect(chgoper, &QAction::triggered, this, [this] { logic_->chgoper(); });
    connect(File_1, &QAction::triggered, this, [this] { logic_->File_1(); });
    connect(mailsertu, &QAction::triggered, this, [this] { logic_->mailsertu(); });
    logic->set_dialogs(this);
    if (tray) {
        connect(tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            // The context menu opens by itself; click and double click restore the window.
            if (reason == QSystemTrayIcon::Trigger) logic_->tray_event(514);
            if (reason == QSystemTrayIcon::DoubleClick) logic_->tray_event(515);
        });
    }
}

void Form1::set_caption(const std::string& text) { setWindowTitle(from_bytes(text)); }
std::string Form1::caption() const { return to_bytes(windowTitle()); }
void Form1::set_status(const std::string& text) {
    status_ = from_bytes(text);
    if (warning_.isEmpty()) Label1->setText(status_);
}
void Form1::set_operator_label(const std::string& text) { lblOPER->setText(from_bytes(text)); }
void Form1::set_mail_client_label(const std::string& text) { lblclientMAPI->setText(from_bytes(text)); }
void Form1::show_pro_label(bool visible) { LabelPRO->setVisible(visible); }

void Form1::set_active_look(bool active, const std::string& tray_tip) {
    // Window colour while active, menu colour while switched off.
    QPalette pal = List1->palette();
    pal.setColor(QPalette::Base, QApplication::palette().color(active ? QPalette::Base : QPalette::Button));
    List1->setPalette(pal);
    active_ = active;
    tip_ = from_bytes(tray_tip);
    apply_look();
}

void Form1::set_warning(const std::string& text) {
    warning_ = from_bytes(text);
    apply_look();
}

void Form1::apply_look() {
    const bool warned = !warning_.isEmpty();
    const QIcon icon = warned ? picture_warning() : active_ ? picture_on() : picture_off();
    setWindowIcon(icon);
    Label1->setText(warned ? warning_ : status_);
    Label1->setToolTip(warned ? warning_ : QString());
    if (tray) {
        tray->setIcon(icon);
        tray->setToolTip(warned ? warning_ : tip_);
    }
}

void Form1::set_check(bool checked) { Check1->setChecked(checked); }

void Form1::set_timer(int interval_ms, bool enabled) {
    if (interval_ms > 0) Timer1->setInterval(interval_ms);
    if (enabled && interval_ms > 0) {
        if (!Timer1->isActive()) Timer1->start();
    } else {
        Timer1->stop();
    }
}

void Form1::show_window() {
    show();
    lay_out();
}

void Form1::set_tray_icon(bool present, const std::string& tip) {
    if (!tray) return;
    tray->setIcon(windowIcon());
    tray->setToolTip(from_bytes(tip));
    tray->setVisible(present);
}

void Form1::set_tray_tip(const std::string& tip) {
    tip_ = from_bytes(tip);
    if (tray && warning_.isEmpty()) tray->setToolTip(tip_);
}

void Form1::tray_message(const std::string& title, const std::string& text) {
    if (tray && tray->isVisible()) tray->showMessage(from_bytes(title), from_bytes(text));
}

void Form1::show_message_box(const std::string& text) {
    QMessageBox::information(isVisible() ? this : nullptr, QStringLiteral("Velarion"), from_bytes(text));
}

std::string Form1::input_box(const std::string& prompt, const std::string& title, const std::string& def) {
    bool ok = false;
    const QString answer = QInputDialog::getText(isVisible() ? this : nullptr, from_bytes(title), from_bytes(prompt),
                                                 QLineEdit::Normal, from_bytes(def), &ok);
    return ok ? to_bytes(answer) : std::string();
}

void Form1::process_events() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void Form1::close_window() {
    closed_ = true;
    Timer1->stop();
    if (tray) tray->hide();
    hide();
    QCoreApplication::quit();
}

void Form1::restore_window() {
    showNormal();
    raise();
    activateWindow();
}

void Form1::hide_window() { hide(); }

void Form1::popup_tray_menu() { mPopupSys->popup(QCursor::pos()); }

bool Form1::open_folder(const std::string& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromLocal8Bit(path.c_str())));
}

void Form1::show_setuputente(const SetupContext& ctx) {
    // One window: the menu brings an open one to the front.
    if (!setuputente_) {
        setuputente_ = new frm_setuputente(ctx, this);
        setuputente_->setAttribute(Qt::WA_DeleteOnClose);
    }
    setuputente_->show();
    setuputente_->raise();
    setuputente_->activateWindow();
}

void Form1::exec_form3(Runtime& rt) {
    Form3 dialog(rt, this);
    dialog.exec();
}

void Form1::closeEvent(QCloseEvent* event) {
    if (!logic_ || closed_) {
        event->accept();
        return;
    }
    // The unload runs in the logic; the window goes when it calls close_window().
    event->ignore();
    logic_->request_close();
}

void Form1::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || !isMinimized()) return;
    // Minimised: only the tray icon remains. Without a tray the window stays in the taskbar.
    if (tray && tray->isVisible() && resize_rule(true, 0, 0).hide) QTimer::singleShot(0, this, [this] { hide(); });
}

void Form1::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    lay_out();
}

void Form1::lay_out() {
    QWidget* c = centralWidget();
    const int w = c->width(), h = c->height();
    // The fixed controls of the top band.
    Check1->setGeometry(kLeft, 6, w / 2 - kLeft, 22);
    LabelPRO->setGeometry(w / 2, 6, w / 2 - kLeft, 22);
    lblOPER->setGeometry(kLeft, 32, w / 2 - kLeft, 22);
    lblclientMAPI->setGeometry(w / 2, 32, w / 2 - kLeft, 22);
    // Label1 and List1 follow the resize rule, measured in twips.
    const double twips = 1440.0 / (logicalDpiX() > 0 ? logicalDpiX() : 96);
    const WindowLayout l = resize_rule(false, static_cast<int>(w * twips), static_cast<int>(h * twips));
    if (!l.apply) return;
    const int list_h = static_cast<int>(l.list_height / twips);
    List1->setGeometry(kLeft, kListTop, static_cast<int>(l.list_width / twips), std::max(list_h, 40));
    Label1->setGeometry(kLeft, static_cast<int>(l.label_top / twips), static_cast<int>(l.label_width / twips), 22);
}

}  // namespace velarion::qt
