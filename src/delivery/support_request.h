// Form3: the support request to the help desk. The user picks departments
// from lstElenco, writes a subject and a text, and the request goes out
// through the mail layer with the default profile, one To recipient per
// department (its mailbox name followed by the help desk's mail domain).
// The names and the domain are section "ASSISTENZA" of velarion.ini.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace velarion {

struct Runtime;

// Section "ASSISTENZA": "reparto1" to "reparto4" and "dominio".
struct SupportDesk {
    std::array<std::string, 4> departments;
    std::string domain;  // begins with "@"
};
SupportDesk support_desk(const Runtime& rt);

class Form3View {
public:
    virtual ~Form3View() = default;
    virtual void fill_departments(const std::vector<std::string>& names) = 0;  // lstElenco
    // Indexes of the selected lines of lstElenco, in list order.
    virtual std::vector<int> selected_departments() const = 0;
    virtual std::string subject() const = 0;  // txtobj
    virtual std::string body() const = 0;     // txtbody
    virtual void message_box(const std::string& text) = 0;
    virtual void close_dialog() = 0;
};

class Form3Logic {
public:
    Form3Logic(Runtime& rt, Form3View& view);

    void Form_Load();
    // Sends the request and closes; false when it did not go out (the
    // dialog stays open with what the user wrote).
    bool cmdinvia_Click();
    void cmdEsci_Click();

private:
    Runtime& rt_;
    Form3View& view_;
    SupportDesk desk_;
};

}  // namespace velarion
