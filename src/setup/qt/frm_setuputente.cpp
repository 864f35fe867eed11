#include "setup/qt/frm_setuputente.h"

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include "platform/os/text_encoding.h"
#include "setup/qt/form_cdo.h"

namespace velarion::qt {

namespace {
QString from_bytes(const std::string& cp1252) { return QString::fromStdString(text::cp1252_to_utf8(cp1252)); }
std::string to_bytes(const QString& s) { return text::utf8_to_cp1252(s.toStdString()); }
}  // namespace

frm_setuputente::frm_setuputente(SetupContext ctx, QWidget* parent) : QDialog(parent), ctx_(std::move(ctx)) {
    setObjectName(QStringLiteral("frm_setuputente"));
    setWindowTitle(QStringLiteral("Parametri Utente"));
    create_controls();
    logic_ = std::make_unique<frm_setuputenteLogic>(ctx_, *this);
    logic_->Form_Load();
}

frm_setuputente::~frm_setuputente() {
    // The lists' line edits report their focus loss while the window goes.
    for (QWidget* w : controls_)
        if (w) w->removeEventFilter(this);
    for (auto* c : {qobject_cast<QComboBox*>(control(SetupField::cboTipoInvio)),
                    qobject_cast<QComboBox*>(control(SetupField::cmbregmail))})
        if (c && c->lineEdit()) c->lineEdit()->removeEventFilter(this);
}

void frm_setuputente::create_controls() {
    auto* grid = new QGridLayout;
    int row = 0;
    for (const SetupFieldInfo& info : kSetupFields) {
        const auto i = static_cast<std::size_t>(info.field);
        auto* lbl = new QLabel(from_bytes(info.label), this);
        const FolderPick* pick = folder_pick(info.field);
        lbl->setObjectName(pick ? QString::fromLatin1(pick->label_control)
                                : QStringLiteral("lbl_") + QString::fromLatin1(info.control));
        lbl->installEventFilter(this);
        QWidget* w = nullptr;
        if (info.list) {
            auto* combo = new QComboBox(this);
            combo->setEditable(true);
            combo->setInsertPolicy(QComboBox::NoInsert);
            // The text stays as typed: no completion to a choice of another case.
            combo->setCompleter(nullptr);
            const auto& choices = info.field == SetupField::cboTipoInvio ? kTipoInvioChoices : kRegistryChoices;
            for (const char* c : choices) combo->addItem(QString::fromLatin1(c));
            combo->lineEdit()->installEventFilter(this);
            w = combo;
        } else {
            auto* edit = new QLineEdit(this);
            if (info.masked) edit->setEchoMode(QLineEdit::Password);
            if (info.field == SetupField::txt_operatore) edit->setReadOnly(true);
            w = edit;
        }
        w->setObjectName(QString::fromLatin1(info.control));
        w->installEventFilter(this);
        w->setMinimumWidth(360);
        lbl->setBuddy(w);
        controls_[i] = w;
        labels_[i] = lbl;
        grid->addWidget(lbl, row, 0);
        grid->addWidget(w, row, 1);
        ++row;
    }

    lblApp = new QLabel(this);
    lblApp->setObjectName(QStringLiteral("lblApp"));
    cmdSave = new QPushButton(QStringLiteral("Salva ed esci"), this);
    cmdSave->setObjectName(QStringLiteral("cmdSave"));
    CmdExit = new QPushButton(QStringLiteral("Esci senza salvare"), this);
    CmdExit->setObjectName(QStringLiteral("CmdExit"));
    cmdcdo = new QPushButton(QStringLiteral("CDO"), this);
    cmdcdo->setObjectName(QStringLiteral("cmdcdo"));
    cmdSave->setAutoDefault(false);
    CmdExit->setAutoDefault(false);
    cmdcdo->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cmdcdo);
    buttons->addStretch(1);
    buttons->addWidget(cmdSave);
    buttons->addWidget(CmdExit);

    auto* top = new QVBoxLayout(this);
    top->addLayout(grid);
    top->addWidget(lblApp);
    top->addLayout(buttons);

    connect(cmdSave, &QPushButton::clicked, this, [this] { logic_->cmdSave_Click(); });
    connect(CmdExit, &QPushButton::clicked, this, [this] { logic_->CmdExit_Click(); });
    connect(cmdcdo, &QPushButton::clicked, this, [this] { logic_->cmdcdo_Click(); });
}

QLabel* frm_setuputente::label(DirLabel l) const {
    for (const auto& p : kFolderPicks)
        if (p.label == l) return label(p.field);
    return nullptr;
}

int frm_setuputente::field_of(QObject* o) const {
    for (std::size_t i = 0; i < controls_.size(); ++i) {
        if (controls_[i] == o) return static_cast<int>(i);
        if (auto* c = qobject_cast<QComboBox*>(controls_[i]); c && c->lineEdit() == o) return static_cast<int>(i);
    }
    return -1;
}

bool frm_setuputente::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick) {
        for (const auto& p : kFolderPicks) {
            if (watched == label(p.field)) {
                logic_->label_DblClick(p.label);
                return true;
            }
            if (watched == control(p.field)) {
                logic_->field_DblClick(p.field);
                return true;
            }
        }
    }
    if (event->type() == QEvent::FocusOut) {
        const int i = field_of(watched);
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        // Another window or the list's own popup taking the focus is no leaving of the field.
        if (i >= 0 && reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            const auto f = static_cast<SetupField>(i);
            // The focus goes back once the new field has taken it, unless the
            // text was put right in the meantime.
            if (!logic_->may_leave(f, field(f))) {
                QTimer::singleShot(0, control(f), [this, f] {
                    if (!logic_->may_leave(f, field(f))) control(f)->setFocus(Qt::OtherFocusReason);
                });
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void frm_setuputente::set_caption(const std::string& text) { setWindowTitle(from_bytes(text)); }

void frm_setuputente::set_app_label(const std::string& text) { lblApp->setText(from_bytes(text)); }

void frm_setuputente::set_field(SetupField f, const std::string& text) {
    if (auto* c = qobject_cast<QComboBox*>(control(f)))
        c->setCurrentText(from_bytes(text));
    else if (auto* e = qobject_cast<QLineEdit*>(control(f)))
        e->setText(from_bytes(text));
}

std::string frm_setuputente::field(SetupField f) const {
    if (auto* c = qobject_cast<QComboBox*>(control(f))) return to_bytes(c->currentText());
    if (auto* e = qobject_cast<QLineEdit*>(control(f))) return to_bytes(e->text());
    return "";
}

void frm_setuputente::focus_field(SetupField f) { control(f)->setFocus(Qt::OtherFocusReason); }

void frm_setuputente::set_label_red(DirLabel l, bool red) {
    QLabel* lbl = label(l);
    QPalette pal = lbl->palette();
    pal.setColor(QPalette::WindowText, red ? QColor(255, 0, 0) : QApplication::palette().color(QPalette::ButtonText));
    lbl->setPalette(pal);
}

std::string frm_setuputente::browse_folder(const std::string& title, const std::string& start) {
    const QString caption = title.empty() ? QStringLiteral("Seleziona la directory...") : from_bytes(title);
    return to_bytes(QFileDialog::getExistingDirectory(this, caption, from_bytes(start)));
}

void frm_setuputente::open_file_manager(const std::string& folder) {
    // The desktop's file manager (xdg-open on the folder).
    if (!folder.empty()) QDesktopServices::openUrl(QUrl::fromLocalFile(from_bytes(folder)));
}

void frm_setuputente::message_box(const std::string& text) {
    QMessageBox::information(this, windowTitle(), from_bytes(text));
}

void frm_setuputente::open_cdo() {
    FormCDO dialog(ctx_, this);
    dialog.exec();
}

void frm_setuputente::close_dialog() { close(); }

}  // namespace velarion::qt
