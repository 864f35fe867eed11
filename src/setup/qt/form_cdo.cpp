#include "setup/qt/form_cdo.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/os/text_encoding.h"

namespace velarion::qt {

namespace {
QString from_bytes(const std::string& cp1252) { return QString::fromStdString(text::cp1252_to_utf8(cp1252)); }
std::string to_bytes(const QString& s) { return text::utf8_to_cp1252(s.toStdString()); }
}  // namespace

FormCDO::FormCDO(SetupContext ctx, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FormCDO"));
    setWindowTitle(QStringLiteral("Parametri CDO"));
    auto* form = new QFormLayout;
    for (const CdoFieldInfo& info : kCdoFields) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QString::fromLatin1(info.control));
        if (info.masked) e->setEchoMode(QLineEdit::Password);
        e->setMinimumWidth(280);
        edits_[static_cast<std::size_t>(info.field)] = e;
        form->addRow(QString::fromLatin1(info.label), e);
    }
    cmbSignOn = new QComboBox(this);
    cmbSignOn->setObjectName(QStringLiteral("cmbSignOn"));
    cmbSignOn->addItem(QStringLiteral("Password"));
    cmbSignOn->addItem(QStringLiteral("OAuth 2.0"));
    form->addRow(QStringLiteral("Accesso"), cmbSignOn);
    oauth_box_ = new QWidget(this);
    oauth_box_->setObjectName(QStringLiteral("oauth_box"));
    auto* oauth_form = new QFormLayout(oauth_box_);
    oauth_form->setContentsMargins(0, 0, 0, 0);
    for (const OAuthFieldInfo& info : kOAuthFields) {
        auto* e = new QLineEdit(oauth_box_);
        e->setObjectName(QString::fromLatin1(info.control));
        if (info.masked) e->setEchoMode(QLineEdit::Password);
        e->setMinimumWidth(280);
        oauth_edits_[static_cast<std::size_t>(info.field)] = e;
        oauth_form->addRow(QString::fromLatin1(info.label), e);
    }
    CmdExit = new QPushButton(QStringLiteral("Salva ed esci"), this);
    CmdExit->setObjectName(QStringLiteral("CmdExit"));
    CmdExit->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(CmdExit);
    auto* top = new QVBoxLayout(this);
    top->addLayout(form);
    top->addWidget(oauth_box_);
    top->addLayout(buttons);

    logic_ = std::make_unique<FormCDOLogic>(std::move(ctx), *this);
    connect(CmdExit, &QPushButton::clicked, this, [this] { logic_->CmdExit_Click(); });
    logic_->Form_Load();
    connect(cmbSignOn, &QComboBox::currentIndexChanged, this, [this] { logic_->SignOn_Change(); });
}

FormCDO::~FormCDO() = default;

void FormCDO::set_field(CdoField f, const std::string& text) { edit(f)->setText(from_bytes(text)); }

std::string FormCDO::field(CdoField f) const { return to_bytes(edit(f)->text()); }

void FormCDO::set_oauth_field(OAuthField f, const std::string& text) { edit(f)->setText(from_bytes(text)); }

std::string FormCDO::oauth_field(OAuthField f) const { return to_bytes(edit(f)->text()); }

void FormCDO::set_sign_on(SignOnMethod m) { cmbSignOn->setCurrentIndex(m == SignOnMethod::oauth ? 1 : 0); }

SignOnMethod FormCDO::sign_on() const {
    return cmbSignOn->currentIndex() == 1 ? SignOnMethod::oauth : SignOnMethod::password;
}

void FormCDO::show_oauth_fields(bool shown) {
    oauth_box_->setVisible(shown);
    adjustSize();
}

void FormCDO::close_dialog() { accept(); }

}  // namespace velarion::qt
