#include "delivery/qt/form3.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/os/text_encoding.h"

namespace velarion::qt {

namespace {
QString from_bytes(const std::string& cp1252) { return QString::fromStdString(text::cp1252_to_utf8(cp1252)); }
std::string to_bytes(const QString& s) { return text::utf8_to_cp1252(s.toStdString()); }
}  // namespace

Form3::Form3(Runtime& rt, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("Richiesta assistenza"));
    lstElenco = new QListWidget(this);
    lstElenco->setObjectName(QStringLiteral("lstElenco"));
    lstElenco->setSelectionMode(QAbstractItemView::MultiSelection);
    lstElenco->setMaximumHeight(90);
    txtobj = new QLineEdit(this);
    txtobj->setObjectName(QStringLiteral("txtobj"));
    txtbody = new QPlainTextEdit(this);
    txtbody->setObjectName(QStringLiteral("txtbody"));
    txtbody->setMinimumSize(420, 160);
    cmdinvia = new QPushButton(QStringLiteral("Invia"), this);
    cmdinvia->setObjectName(QStringLiteral("cmdinvia"));
    cmdEsci = new QPushButton(QStringLiteral("Esci"), this);
    cmdEsci->setObjectName(QStringLiteral("cmdEsci"));
    cmdinvia->setAutoDefault(false);
    cmdEsci->setAutoDefault(false);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Destinatari"), lstElenco);
    form->addRow(QStringLiteral("Oggetto"), txtobj);
    form->addRow(QStringLiteral("Testo"), txtbody);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdinvia);
    buttons->addWidget(cmdEsci);
    auto* top = new QVBoxLayout(this);
    top->addLayout(form);
    top->addLayout(buttons);

    logic_ = std::make_unique<Form3Logic>(rt, *this);
    connect(cmdinvia, &QPushButton::clicked, this, [this] { logic_->cmdinvia_Click(); });
    connect(cmdEsci, &QPushButton::clicked, this, [this] { logic_->cmdEsci_Click(); });
    logic_->Form_Load();
}

Form3::~Form3() = default;

void Form3::fill_departments(const std::vector<std::string>& names) {
    lstElenco->clear();
    for (const auto& n : names) lstElenco->addItem(from_bytes(n));
}

std::vector<int> Form3::selected_departments() const {
    std::vector<int> out;
    for (int i = 0; i < lstElenco->count(); ++i)
        if (lstElenco->item(i)->isSelected()) out.push_back(i);
    return out;
}

std::string Form3::subject() const { return to_bytes(txtobj->text()); }

std::string Form3::body() const { return to_bytes(txtbody->toPlainText()); }

void Form3::message_box(const std::string& text) { QMessageBox::information(this, windowTitle(), from_bytes(text)); }

void Form3::close_dialog() { accept(); }

}  // namespace velarion::qt
