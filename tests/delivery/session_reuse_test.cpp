// The messages of a batch share one SMTP connection (RSET between them) and
// one IMAP connection; the batch's end closes them, and any failure, or a
// server ending the kept connection, starts a new one.
#include "delivery/sendmail.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "mail_test_support.h"

namespace velarion {
namespace {

using ::testing::HasSubstr;
using testing::ImapServer;
using testing::MailContext;
using testing::SmtpOptions;
using testing::count_of;
using testing::SmtpServer;

// The dispatcher's MAPI session sending through the server.
void use_session(MailContext& m, const SmtpServer& smtp) {
    m.write_mapi("client=Thunderbird\ntransport=" + smtp.url() + "\n");
}

// The "cdo:" component sending through the server, signing on with AUTH.
void use_component(MailContext& m, const SmtpServer& smtp) {
    m.write_mapi("");
    m.cfg.sw.smtp_component = true;
    m.cfg.op.smtpserver = "127.0.0.1";
    m.cfg.op.smtport = std::to_string(smtp.port());
    m.cfg.op.username = "ufficio@velarion.example";
    m.cfg.op.password = "segreta";
    m.cfg.derive();
}

DeliveryRequest one_recipient(const std::string& to = "mario.rossi@example.it") {
    DeliveryRequest r = testing::sample_request();
    r.lsTo = to;
    r.lscc.clear();
    r.plus_ccn.clear();
    return r;
}

class SessionReuse : public ::testing::TestWithParam<bool> {
protected:
    // The component's own copy to the sender travels in the same transaction.
    void use(MailContext& m, const SmtpServer& smtp) const {
        if (GetParam())
            use_component(m, smtp);
        else
            use_session(m, smtp);
    }
    static SmtpOptions with_login(SmtpOptions o = {}) {
        o.user = "ufficio@velarion.example";
        o.password = "segreta";
        return o;
    }
};

TEST_P(SessionReuse, OneConnectionForTheBatchWithRsetBetweenMessagesAndQuitAtItsEnd) {
    SmtpServer smtp(with_login());
    if (!smtp.skip_reason().empty()) GTEST_SKIP() << smtp.skip_reason();
    MailContext m;
    use(m, smtp);
    const int before = smtp.connections();
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(m.dispatcher.sendmail(one_recipient())) << ::testing::PrintToString(m.list.lines());
    EXPECT_EQ(smtp.messages(5).size(), 5u);
    EXPECT_EQ(smtp.connections() - before, 1);
    std::string got = smtp.received();
    EXPECT_EQ(count_of(got, "RSET\r\n"), 4) << got;
    EXPECT_EQ(count_of(got, "QUIT\r\n"), 0);

    // The batch ends: the connection is closed, and the next batch opens one.
    m.dispatcher.end_batch();
    ASSERT_TRUE(m.dispatcher.sendmail(one_recipient()));
    EXPECT_EQ(smtp.messages(6).size(), 6u);
    EXPECT_EQ(smtp.connections() - before, 2);
    got = smtp.received("QUIT\r\n", 1);
    EXPECT_EQ(count_of(got, "QUIT\r\n"), 1);
    if (GetParam()) {
        EXPECT_EQ(count_of(got, "AUTH"), 2);  // the component signs on once per connection
    }
}

TEST_P(SessionReuse, AFailureMidBatchStartsANewConnectionAndTheNextMessageGoes) {
    SmtpOptions o = with_login();
    o.reject_prefix = "sconosciuto";
    SmtpServer smtp(o);
    if (!smtp.skip_reason().empty()) GTEST_SKIP() << smtp.skip_reason();
    MailContext m;
    use(m, smtp);
    m.on_switch_off = [] {};
    const int before = smtp.connections();
    ASSERT_TRUE(m.dispatcher.sendmail(one_recipient()));
    EXPECT_FALSE(m.dispatcher.sendmail(one_recipient("sconosciuto@example.it")));
    ASSERT_TRUE(m.dispatcher.sendmail(one_recipient("anna.bianchi@example.it")))
        << ::testing::PrintToString(m.list.lines());
    // The component also sends its error report to the sender.
    const std::size_t expected = GetParam() ? 3 : 2;
    const auto got = smtp.messages(expected);
    ASSERT_EQ(got.size(), expected);
    EXPECT_THAT(got, ::testing::Contains(HasSubstr("To: anna.bianchi@example.it")));
    // The refused message's connection ended with it; the component's error
    // report to the sender and the next message went on a new one.
    EXPECT_EQ(smtp.connections() - before, 2);
}

// A server may end a connection that waits (an idle limit, a restart): the
// message that meets it goes on a new connection, sent once.
TEST_P(SessionReuse, AConnectionTheServerEndedIsReplacedWithoutLosingTheMessage) {
    for (const bool silently : {false, true}) {
        SmtpOptions o = with_login();
        o.end_after = 2;
        o.end_silently = silently;
        SmtpServer smtp(o);
        if (!smtp.skip_reason().empty()) GTEST_SKIP() << smtp.skip_reason();
        MailContext m;
        use(m, smtp);
        const int before = smtp.connections();
        for (int i = 0; i < 5; ++i)
            ASSERT_TRUE(m.dispatcher.sendmail(one_recipient())) << silently << ::testing::PrintToString(m.list.lines());
        EXPECT_EQ(smtp.messages(5).size(), 5u);
        EXPECT_EQ(smtp.messages(6, 300).size(), 5u) << "a message went twice";
        EXPECT_EQ(smtp.connections() - before, 3) << silently;
    }
}

// A server that offers PIPELINING (as Postfix does) gets RSET, MAIL, RCPT and
// DATA in one write. A refused recipient among them leaves the answer to
// DATA unread: that connection ends with the message, so the next one never
// reads an answer meant for the one before. A server ending the kept
// connection at the RSET (421, or without a word) costs no message and sends
// none twice.
TEST_P(SessionReuse, APipeliningServerGetsTheEnvelopeInOneWriteAndRefusalsAndEndsCostNoMessage) {
    for (const bool silently : {false, true}) {
        SmtpOptions o = with_login();
        o.pipelining = true;
        o.reject_prefix = "sconosciuto";
        o.end_after = 2;
        o.end_silently = silently;
        SmtpServer smtp(o);
        if (!smtp.skip_reason().empty()) GTEST_SKIP() << smtp.skip_reason();
        MailContext m;
        use(m, smtp);
        m.on_switch_off = [] {};
        const int before = smtp.connections();
        // The third message meets the end of the first connection.
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(m.dispatcher.sendmail(one_recipient("cliente" + std::to_string(i) + "@example.it")))
                << silently << ::testing::PrintToString(m.list.lines());
        EXPECT_EQ(smtp.connections() - before, 2) << silently;
        m.list.clear();
        DeliveryRequest refused = one_recipient("anna.bianchi@example.it;sconosciuto@example.it");
        EXPECT_FALSE(m.dispatcher.sendmail(refused));
        if (!GetParam()) {
            ASSERT_EQ(m.list.size(), 1u) << ::testing::PrintToString(m.list.lines());
            EXPECT_THAT(m.list.lines()[0], HasSubstr(" Messaggio scartato "));
            EXPECT_THAT(m.list.lines()[0], HasSubstr(" - Sconosciuto " + refused.lsTo + " - "));
        }
        ASSERT_TRUE(m.dispatcher.sendmail(one_recipient("cliente3@example.it")))
            << silently << ::testing::PrintToString(m.list.lines());

        // Four messages (the component adds its error report to the
        // sender), each once; the refused one reached nobody.
        const std::size_t expected = GetParam() ? 5 : 4;
        const auto got = smtp.messages(expected);
        ASSERT_EQ(got.size(), expected) << silently;
        EXPECT_EQ(smtp.messages(expected + 1, 300).size(), expected) << "a message went twice";
        std::string all;
        for (const auto& message : got) all += message;
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(count_of(all, "\nTo: cliente" + std::to_string(i) + "@example.it"), 1) << i;
        EXPECT_EQ(count_of(all, "\nTo: anna.bianchi@example.it"), 0);
        EXPECT_EQ(count_of(all, "X-RcptTo: anna.bianchi@example.it"), 0);
        // The message after the refusal went on a new connection.
        EXPECT_EQ(smtp.connections() - before, 3) << silently;
        // The envelope of a message on a kept connection went in one write.
        const std::string reads = smtp.reads();
        bool together = false;
        for (std::size_t at = 0, end = 0; !together && at < reads.size(); at = end + 1) {
            end = std::min(reads.find('\n', at), reads.size());
            const std::string read = reads.substr(at, end - at);
            together = read.find("RSET MAIL FROM:<") == 0 && read.find(" RCPT TO:<") != std::string::npos &&
                       read.find(" DATA ") != std::string::npos;
        }
        EXPECT_TRUE(together) << reads;
    }
}

INSTANTIATE_TEST_SUITE_P(SessionAndComponent, SessionReuse, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Component" : "Session"; });

// Drafts on an IMAP store share the sign-on of a batch; its end logs out, and
// the next draft signs on again.
TEST(SessionReuseImap, TheBatchEndLogsOutAndTheNextDraftSignsOnAgain) {
    ImapServer imap;
    if (!imap.skip_reason().empty()) GTEST_SKIP() << imap.skip_reason();
    MailContext m;
    m.write_mapi("client=Microsoft Exchange\nstore=" + imap.url(false) + "\n");
    DeliveryRequest r = one_recipient();
    r.lsSend = "SAVE";
    r.login_email = imap.user();
    r.pwd_email = imap.password();
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(m.dispatcher.sendmail(r)) << ::testing::PrintToString(m.view.boxes);
    const int logins = count_of(imap.log(), "Login: user=<");
    const int logouts = count_of(imap.log(), "Logged out");
    m.dispatcher.end_batch();
    // The server writes its line once the connection is over.
    for (int wait = 0; wait < 40 && count_of(imap.log(), "Logged out") <= logouts; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_GT(count_of(imap.log(), "Logged out"), logouts) << imap.log();
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(m.dispatcher.sendmail(r)) << ::testing::PrintToString(m.view.boxes);
    EXPECT_EQ(imap.message_files("Drafts").size(), 5u);
    EXPECT_GT(count_of(imap.log(), "Login: user=<"), logins) << imap.log();
}

}  // namespace
}  // namespace velarion
