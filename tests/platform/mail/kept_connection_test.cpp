// A kept SMTP connection serves the next message only while it has not
// waited past its idle limit; a send needs no sign-on to the store.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/mail/mail.h"
#include "platform/mail/smtp_component.h"
#include "support/mail_servers.h"

namespace velarion {
namespace {

using testing::count_of;
using testing::SmtpServer;

void pause_past_idle() { std::this_thread::sleep_for(std::chrono::milliseconds(1300)); }

TEST(KeptConnection, TheSessionEndsAConnectionLeftUnusedPastItsIdleLimit) {
    SmtpServer smtp;
    if (!smtp.skip_reason().empty()) GTEST_SKIP() << smtp.skip_reason();
    mail::Profile p;
    p.store = "maildir://localhost/nonexistent/velarion-no-store";  // never opened: nothing is signed on
    p.transport = smtp.url();
    p.from = "ufficio@velarion.example";
    p.idle = 1;
    auto session = mail::open_session(p);
    mail::Message m;
    m.subject = "Fattura";
    m.recipients = {{mail::RecipType::To, "mario.rossi@example.it"}};
    m.note_text = "testo";
    const int before = smtp.connections();
    session->send(m, false);
    session->send(m, false);
    EXPECT_EQ(smtp.messages(2).size(), 2u);
    EXPECT_EQ(smtp.connections() - before, 1);
    pause_past_idle();
    session->send(m, false);
    EXPECT_EQ(smtp.messages(3).size(), 3u);
    EXPECT_EQ(smtp.connections() - before, 2);
    EXPECT_EQ(count_of(smtp.received("QUIT\r\n", 1), "QUIT\r\n"), 1);
    session->rest();
    EXPECT_EQ(count_of(smtp.received("QUIT\r\n", 2), "QUIT\r\n"), 2);
    EXPECT_FALSE(session->signed_on());
}

TEST(KeptConnection, TheComponentEndsAConnectionLeftUnusedPastItsIdleLimit) {
    SmtpServer smtp;
    if (!smtp.skip_reason().empty()) GTEST_SKIP() << smtp.skip_reason();
    mail::SmtpSessions sessions;
    mail::SmtpComponent c;
    c.SMTPHost = smtp.host_port();
    const mail::Envelope e{.from = {"ufficio@velarion.example"},
                           .to = {{"mario.rossi@example.it"}},
                           .subject = "Fattura",
                           .body = "testo"};
    c.Idle = 1;
    c.Sessions = &sessions;
    const int before = smtp.connections();
    c.Send(e);
    ASSERT_FALSE(c.failed()) << c.error_text();
    c.Send(e);
    EXPECT_EQ(smtp.messages(2).size(), 2u);
    EXPECT_EQ(smtp.connections() - before, 1);
    pause_past_idle();
    c.Send(e);
    ASSERT_FALSE(c.failed()) << c.error_text();
    EXPECT_EQ(smtp.messages(3).size(), 3u);
    EXPECT_EQ(smtp.connections() - before, 2);
    sessions.close();
    EXPECT_EQ(count_of(smtp.received("QUIT\r\n", 2), "QUIT\r\n"), 2);
}

}  // namespace
}  // namespace velarion
