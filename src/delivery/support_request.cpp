#include "delivery/support_request.h"

#include "common/runtime.h"
#include "delivery/mail_profile.h"
#include "delivery/mail_report.h"
#include "platform/mail/mail.h"
#include "platform/os/text_encoding.h"

namespace velarion {

SupportDesk support_desk(const Runtime& rt) {
    SupportDesk d;
    d.departments = rt.cfg.support_departments;
    d.domain = rt.cfg.support_domain;
    return d;
}

Form3Logic::Form3Logic(Runtime& rt, Form3View& view) : rt_(rt), view_(view) {}

void Form3Logic::Form_Load() {
    desk_ = support_desk(rt_);
    view_.fill_departments({desk_.departments.begin(), desk_.departments.end()});
}

bool Form3Logic::cmdinvia_Click() {
    const std::vector<int> chosen = view_.selected_departments();
    if (chosen.empty()) {
        view_.message_box("Selezionare almeno un destinatario");
        return false;
    }
    // The stage named in the "Form3 Step:" box; signing on comes first.
    int step = 1;
    std::string sent_to;
    try {
        // Sign on with the default profile, compose, subject.
        auto session = mail::open_session(mail_profile(rt_));
        session->sign_on("", "");
        mail::Message msg;
        msg.subject = view_.subject();
        // One To recipient per selected department, in list order.
        step = 2;
        for (int i : chosen) {
            if (i < 0 || i >= static_cast<int>(desk_.departments.size())) continue;
            const std::string address = desk_.departments[static_cast<std::size_t>(i)] + desk_.domain;
            msg.recipients.push_back({mail::RecipType::To, address});
            if (!sent_to.empty()) sent_to += ";";
            sent_to += address;
        }
        // Text, send without dialog, sign off.
        step = 3;
        msg.note_text = view_.body();
        session->send(msg, false);
        session->sign_off();
    } catch (const NumberedError& e) {
        view_.message_box("Form3 Step: " + std::to_string(step) + " " + std::to_string(e.number()) + " " + e.what());
        return false;
    } catch (const std::exception& e) {
        view_.message_box("Form3 Step: " + std::to_string(step) + " " + std::to_string(mail::kFailure) + " " +
                          e.what());
        return false;
    }
    // Activity line, window closed.
    rt_.list.add(" Inviato a " + sent_to + " - " + mail_report::clock_text(rt_));
    view_.close_dialog();
    return true;
}

void Form3Logic::cmdEsci_Click() { view_.close_dialog(); }

}  // namespace velarion
