#include "delivery/support_request.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "mail_test_support.h"
#include "support/mail_servers.h"

namespace velarion {
namespace {

using ::testing::HasSubstr;
using testing::MailContext;
using testing::SmtpServer;

struct ScriptedForm3 : Form3View {
    std::vector<std::string> names, boxes;
    std::vector<int> selected;
    std::string subject_text, body_text;
    bool closed = false;
    void fill_departments(const std::vector<std::string>& n) override { names = n; }
    std::vector<int> selected_departments() const override { return selected; }
    std::string subject() const override { return subject_text; }
    std::string body() const override { return body_text; }
    void message_box(const std::string& t) override { boxes.push_back(t); }
    void close_dialog() override { closed = true; }
};

TEST(SupportRequest, DepartmentsAndDomainFromTheConfiguration) {
    MailContext m;
    m.write_mapi("client=Thunderbird\n");
    EXPECT_EQ(support_desk(m.rt).departments,
              (std::array<std::string, 4>{"assistenza", "tecnico", "commerciale", "amministrazione"}));
    EXPECT_EQ(support_desk(m.rt).domain, "@korvantech.it");
    testing::write_file(m.dir / "velarion.ini",
                        "[ASSISTENZA]\nreparto1=help\nreparto3= vendite \ndominio=desk.example.it\n");
    testing::load_ini_keys(m.cfg);
    const SupportDesk d = support_desk(m.rt);
    EXPECT_EQ(d.departments, (std::array<std::string, 4>{"help", "tecnico", "vendite", "amministrazione"}));
    EXPECT_EQ(d.domain, "@desk.example.it");  // the "@" the address needs
}

TEST(SupportRequest, SendsToTheChosenDepartmentsThroughTheTransport) {
    SmtpServer smtp;
    if (!smtp.skip_reason().empty()) GTEST_SKIP() << smtp.skip_reason();
    MailContext m;
    m.write_mapi("client=Thunderbird\ntransport=" + smtp.url() + "\n[ASSISTENZA]\ndominio=@desk.example.it\n");
    ScriptedForm3 v;
    Form3Logic form(m.rt, v);
    form.Form_Load();
    ASSERT_EQ(v.names.size(), 4u);
    EXPECT_EQ(v.names[0], "assistenza");
    v.selected = {0, 3};
    v.subject_text = "Stampa bloccata";
    v.body_text = "La stampa della fattura non parte.\nGrazie";
    ASSERT_TRUE(form.cmdinvia_Click()) << ::testing::PrintToString(v.boxes);
    EXPECT_TRUE(v.closed);
    ASSERT_EQ(m.list.size(), 1u);
    EXPECT_EQ(m.list.lines()[0],
              "07/12/2026 10:30:00 Inviato a assistenza@desk.example.it;amministrazione@desk.example.it - 10:30:00");

    const auto received = smtp.messages(1);
    ASSERT_EQ(received.size(), 1u);
    const std::string d = testing::describe_mime(received[0]);
    EXPECT_THAT(d, HasSubstr("subject: Stampa bloccata\n"));
    EXPECT_THAT(d, HasSubstr("assistenza@desk.example.it"));
    EXPECT_THAT(d, HasSubstr("amministrazione@desk.example.it"));
    EXPECT_THAT(d, ::testing::Not(HasSubstr("tecnico@")));
    EXPECT_THAT(d, HasSubstr("La stampa della fattura non parte."));
}

TEST(SupportRequest, NothingChosenOrNotSentKeepsTheWindowOpen) {
    MailContext m;
    // Nobody listens on port 1: the send fails.
    m.write_mapi("client=Thunderbird\ntransport=smtp://127.0.0.1:1\n");
    ScriptedForm3 v;
    Form3Logic form(m.rt, v);
    form.Form_Load();
    v.subject_text = "Prova";
    EXPECT_FALSE(form.cmdinvia_Click());
    ASSERT_EQ(v.boxes.size(), 1u);
    EXPECT_EQ(v.boxes[0], "Selezionare almeno un destinatario");

    v.selected = {1};
    EXPECT_FALSE(form.cmdinvia_Click());
    ASSERT_EQ(v.boxes.size(), 2u);
    EXPECT_THAT(v.boxes[1], HasSubstr("Form3 Step: 3 "));
    EXPECT_FALSE(v.closed);
    EXPECT_EQ(m.list.size(), 0u);  // no " Inviato a " for a request that did not go out

    form.cmdEsci_Click();
    EXPECT_TRUE(v.closed);
}

}  // namespace
}  // namespace velarion
