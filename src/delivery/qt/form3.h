// Form3: the support request window (lstElenco, txtobj, txtbody, cmdinvia,
// cmdEsci), opened modally from the main window's menu.
#pragma once

#include <memory>

#include <QDialog>

#include "delivery/support_request.h"

class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace velarion::qt {

class Form3 final : public QDialog, public Form3View {
    Q_OBJECT
public:
    explicit Form3(Runtime& rt, QWidget* parent = nullptr);
    ~Form3() override;

    QListWidget* lstElenco = nullptr;
    QLineEdit* txtobj = nullptr;
    QPlainTextEdit* txtbody = nullptr;
    QPushButton* cmdinvia = nullptr;
    QPushButton* cmdEsci = nullptr;

    // Form3View
    void fill_departments(const std::vector<std::string>& names) override;
    std::vector<int> selected_departments() const override;
    std::string subject() const override;
    std::string body() const override;
    void message_box(const std::string& text) override;
    void close_dialog() override;

private:
    std::unique_ptr<Form3Logic> logic_;
};

}  // namespace velarion::qt
