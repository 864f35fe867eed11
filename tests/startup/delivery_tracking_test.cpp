// The whole program (build/bin/velarion) and what becomes of the invoices it
// sends: a real Postfix on loopback that bounces unknown users with RFC 3464
// reports, read back from the DSN mailbox and shown by --track; a server
// without DSN, whose bounces are matched by Message-ID; hostile and foreign
// mail in the mailbox; the program told of a bounce; --resend.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>
#include <filesystem>

#include "support/agent_site.h"
#include "support/background_process.h"
#include "support/fault_servers.h"
#include "support/mail_servers.h"
#include "support/postfix_server.h"
#include "support/test_support.h"

namespace velarion {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using testing::eventually;
using testing::read_file;
using testing::run_program;
using testing::write_file;

int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

std::size_t files_in(const std::string& dir) {
    std::size_t n = 0;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) ++n;
    return n;
}

struct Site : testing::AgentSite {
    Site(const std::string& transport, const std::string& dsn) {
        configure("", "[MAPI]\nclient=Microsoft Outlook\nstore=maildir://localhost" + posta + "\ntransport=" +
                          transport + "\n[DSN]\n" + dsn,
                  "EMailAddr=ufficio@velarion.test\n");
    }
    testing::ProcessResult command(const std::vector<std::string>& extra) const {
        return run_program(args(extra), env());
    }
};

TEST(DeliveryTracking, PostfixBouncesTwoOfTenInvoicesAndTrackShowsThem) {
    testing::PostfixServer postfix({"ufficio", "cliente1", "cliente2"});
    if (!postfix.skip_reason().empty()) GTEST_SKIP() << postfix.skip_reason();
    Site s(postfix.url(), "casella=" + postfix.maildir("ufficio") + "\n");
    for (int i = 1; i <= 10; ++i) {
        const std::string to = i == 4 ? "nessuno@velarion.test"
                               : i == 7 ? "sconosciuto@velarion.test"
                                        : "cliente" + std::to_string(1 + i % 2) + "@velarion.test";
        s.message("AB." + std::to_string(i), to, "SEND");
    }
    const auto sent = s.once();
    ASSERT_EQ(sent.status, 0) << sent.err;
    EXPECT_EQ(count(sent.out, " Inviato "), 10) << sent.out;
    EXPECT_EQ(s.waiting(), 0);
    // Postfix delivers the eight and returns two reports to the sender; the
    // agent reads them at its next passes (the first may already have).
    std::string said = sent.out;
    ASSERT_TRUE(eventually(
        [&] {
            if (count(s.command({"--track", "--json"}).out, "\"state\":\"bounced\"") >= 2) return true;
            said += s.once().out;
            return false;
        },
        120000))
        << said << postfix.log();
    EXPECT_EQ(postfix.count("cliente1") + postfix.count("cliente2"), 8u);
    EXPECT_THAT(said, HasSubstr(" Fattura AB.4 respinta da nessuno@velarion.test: casella inesistente (5.1.1"));
    EXPECT_THAT(said, HasSubstr(" Fattura AB.7 respinta da sconosciuto@velarion.test: casella inesistente"));
    // The reports left the inbox for Velarion/Rapporti.
    EXPECT_EQ(postfix.count("ufficio"), 0u);
    EXPECT_EQ(files_in(postfix.maildir("ufficio") + ".Velarion.Rapporti/cur"), 2u);

    const auto track = s.command({"--track", "--json"});
    ASSERT_EQ(track.status, 0) << track.err;
    EXPECT_EQ(count(track.out, "\"state\":\"bounced\""), 2) << track.out;
    EXPECT_EQ(count(track.out, "\"state\":\"accepted\""), 8) << track.out;
    EXPECT_EQ(count(track.out, "\"status\":\"5.1.1\""), 2) << track.out;
    // Postfix names its queue id in its answer to the end of the data.
    EXPECT_EQ(count(track.out, "queued as"), 10) << track.out;
    const auto one = s.command({"--track", "AB.4"});
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_THAT(one.out, HasSubstr("nessuno@velarion.test  respinto 5.1.1"));
    EXPECT_THAT(one.out, HasSubstr("1 messaggi inviati; destinatari: 0 accettati, 0 consegnati, 0 in ritardo, 1 respinti"));
    const auto queue = s.command({"--queue"});
    EXPECT_THAT(queue.out, HasSubstr(", 2 respinti")) << queue.out;
}

// The reports Postfix returned to ufficio, once both are there.
std::vector<std::string> postfix_reports(const testing::PostfixServer& postfix) {
    std::vector<std::string> out;
    EXPECT_TRUE(eventually([&] { return postfix.count("ufficio") >= 2; }, 120000)) << postfix.log();
    for (const char* sub : {"new", "cur"}) {
        std::error_code ec;
        for (fs::directory_iterator it(postfix.maildir("ufficio") + sub, ec), end; !ec && it != end; it.increment(ec))
            out.push_back(read_file(it->path().string()));
    }
    return out;
}

TEST(DeliveryTracking, PostfixBouncesReadFromAnImapMailbox) {
    testing::PostfixServer postfix({"ufficio", "cliente1"});
    if (!postfix.skip_reason().empty()) GTEST_SKIP() << postfix.skip_reason();
    testing::ImapServer imap;
    if (!imap.skip_reason().empty()) GTEST_SKIP() << imap.skip_reason();
    Site s(postfix.url(), "casella=" + imap.url() + "\n");
    s.message("AB.31", "cliente1@velarion.test", "SEND");
    s.message("AB.32", "nessuno@velarion.test", "SEND");
    s.message("AB.33", "sconosciuto@velarion.test", "SEND");
    const auto sent = s.once();
    ASSERT_EQ(sent.status, 0) << sent.err;
    ASSERT_EQ(count(sent.out, " Inviato "), 3) << sent.out;
    // The reports reach the IMAP server's INBOX, beside the user's own mail.
    const auto reports = postfix_reports(postfix);
    ASSERT_EQ(reports.size(), 2u);
    imap.deliver("INBOX", "1.grazie", "From: cliente1@velarion.test\r\nSubject: Grazie\r\n\r\nRicevuto.\r\n");
    imap.deliver("INBOX", "2.rapporto", reports[0]);
    imap.deliver("INBOX", "3.rapporto", reports[1]);

    const auto read = s.once();
    ASSERT_EQ(read.status, 0) << read.err;
    EXPECT_THAT(read.out, HasSubstr(" Fattura AB.32 respinta da nessuno@velarion.test: casella inesistente (5.1.1"));
    EXPECT_THAT(read.out, HasSubstr(" Fattura AB.33 respinta da sconosciuto@velarion.test: casella inesistente"));
    EXPECT_THAT(read.out, Not(HasSubstr("non leggibile"))) << read.out;
    const auto inbox = imap.messages("INBOX");
    ASSERT_EQ(inbox.size(), 1u) << imap.log();
    EXPECT_THAT(inbox[0], HasSubstr("Ricevuto."));
    EXPECT_EQ(imap.messages("Velarion.Rapporti").size(), 2u) << imap.log();
    const auto track = s.command({"--track", "--json"});
    EXPECT_EQ(count(track.out, "\"state\":\"bounced\""), 2) << track.out;
    EXPECT_EQ(count(track.out, "\"state\":\"accepted\""), 1) << track.out;

    // Nothing more to say at the next pass.
    const auto again = s.once();
    EXPECT_THAT(again.out, Not(HasSubstr("respinta"))) << again.out;
}

// The reports' mailbox is read beside the ticks: a server that takes the
// sign-on and then says nothing holds up no message.
TEST(DeliveryTracking, ASilentReportMailboxHoldsUpNoMessage) {
    testing::ImapServer imap;
    if (!imap.skip_reason().empty()) GTEST_SKIP() << imap.skip_reason();
    testing::StallProxy proxy(imap.port(), "STATUS", 1);
    proxy.start();
    ASSERT_TRUE(proxy.skip_reason().empty()) << proxy.skip_reason();
    testing::TempFailSmtp smtp("");
    if (!smtp.skip_reason().empty()) GTEST_SKIP() << smtp.skip_reason();
    // The mailbox's server is waited for 30 seconds before it is said.
    Site s(smtp.url(), "casella=imap://" + imap.user() + ":" + imap.password() + "@127.0.0.1:" +
                           std::to_string(proxy.port()) + "\n");
    testing::BackgroundProcess agent(s.args(), s.env());
    ASSERT_TRUE(proxy.wait_stalled(30000)) << agent.out() << agent.err();
    s.message("AB.41", "cliente@contoso.example", "SEND");
    ASSERT_TRUE(eventually([&] { return s.waiting() == 0; }, 45000)) << agent.out();
    ASSERT_TRUE(agent.wait_for(" Inviato AB.41", 10000)) << agent.out();
    EXPECT_EQ(smtp.messages(1).size(), 1u);
    // Sent while the mailbox's server was still silent.
    EXPECT_THAT(agent.out(), Not(HasSubstr("Casella dei rapporti di consegna non leggibile"))) << agent.out();
    EXPECT_EQ(proxy.stalls(), 1);
    agent.signal(SIGKILL);
    agent.wait();
}

// A report after the description of Exchange Online's: no envelope id, the
// message's headers returned.
std::string exchange_bounce(const std::string& message_id, const std::string& to) {
    return "From: postmaster@contoso.example\r\nTo: ufficio@velarion.test\r\nSubject: Undeliverable: x\r\n"
           "MIME-Version: 1.0\r\nContent-Type: multipart/report; report-type=delivery-status; boundary=\"b\"\r\n\r\n"
           "--b\r\nContent-Type: text/plain\r\n\r\nDelivery has failed.\r\n"
           "--b\r\nContent-Type: message/delivery-status\r\n\r\nReporting-MTA: dns;AM0PR01.prod.outlook.com\r\n\r\n"
           "Final-Recipient: rfc822;" + to + "\r\nAction: failed\r\nStatus: 5.1.10\r\n"
           "Diagnostic-Code: smtp;550 5.1.10 RESOLVER.ADR.RecipientNotFound; Recipient not found\r\n"
           "--b\r\nContent-Type: text/rfc822-headers\r\n\r\nMessage-ID: <" + message_id + ">\r\nSubject: x\r\n"
           "--b--\r\n";
}

TEST(DeliveryTracking, WithoutDsnAReportIsMatchedByMessageIdAndOtherMailStays) {
    testing::TempFailSmtp smtp("");  // offers no DSN: a parameter it does not know gets 555
    if (!smtp.skip_reason().empty()) GTEST_SKIP() << smtp.skip_reason();
    testing::TempDir box;
    for (const char* sub : {"new", "cur", "tmp"}) fs::create_directories(box / sub);
    const std::string told = box / "detto.txt";
    write_file(box / "su_rifiuto.sh", "#!/bin/sh\nenv | grep ^VELARION_ | sort > " + told + "\n");
    ::chmod((box / "su_rifiuto.sh").c_str(), 0755);
    Site s(smtp.url(), "casella=" + box.path() + "\nsu_rifiuto=" + box / "su_rifiuto.sh" + "\n");
    s.message("AB.21", "cliente@contoso.example", "SEND");
    const auto sent = s.once();
    ASSERT_EQ(sent.status, 0) << sent.err;
    ASSERT_EQ(smtp.messages(1).size(), 1u) << sent.out;

    // The Message-ID the agent recorded is the one the server received.
    const auto before = s.command({"--track", "--json"});
    const auto at = before.out.find("\"message_id\":\"");
    ASSERT_NE(at, std::string::npos) << before.out;
    const std::string id = before.out.substr(at + 14, before.out.find('"', at + 14) - at - 14);
    EXPECT_THAT(smtp.messages(1)[0], HasSubstr("<" + id + ">"));

    write_file(box / "new/1.rapporto", exchange_bounce(id, "cliente@contoso.example"));
    write_file(box / "new/2.altro", "From: cliente@contoso.example\r\nSubject: Re: fattura\r\n\r\nRicevuta\r\n");
    write_file(box / "new/3.ostile", exchange_bounce(id, "x@y") + std::string(5 * 1024 * 1024, 'z'));
    std::string nested = "Content-Type: multipart/report; report-type=delivery-status; boundary=\"b0\"\r\n\r\n";
    for (int i = 1; i < 3000; ++i)
        nested += "--b" + std::to_string(i - 1) + "\r\nContent-Type: multipart/mixed; boundary=\"b" +
                  std::to_string(i) + "\"\r\n\r\n";
    write_file(box / "new/4.annidato", nested);
    write_file(box / "new/5.altrui", exchange_bounce("someone.else@example.org", "z@example.org"));

    const auto read = s.once();
    ASSERT_EQ(read.status, 0) << read.err;
    EXPECT_THAT(read.out, HasSubstr(" Fattura AB.21 respinta da cliente@contoso.example: casella inesistente "
                                    "(5.1.10 550 5.1.10 RESOLVER.ADR.RecipientNotFound; Recipient not found)"));
    EXPECT_THAT(read.out, HasSubstr(" Messaggio troppo grande nella casella dei rapporti, non letto: new/3.ostile"));
    EXPECT_THAT(read.out, HasSubstr(" Rapporto di consegna non leggibile, saltato: troppe parti MIME (new/4.annidato)"));
    // Only the matched report moved; the rest is as it was.
    EXPECT_TRUE(fs::exists(box / ".Velarion.Rapporti/cur/1.rapporto"));
    for (const char* left : {"new/2.altro", "new/3.ostile", "new/4.annidato", "new/5.altrui"})
        EXPECT_TRUE(fs::exists(box / left)) << left;
    ASSERT_TRUE(eventually([&] { return fs::exists(told) && !read_file(told).empty(); }, 10000));
    const std::string env = read_file(told);
    EXPECT_THAT(env, HasSubstr("VELARION_BASE=AB.21\n"));
    EXPECT_THAT(env, HasSubstr("VELARION_RECIPIENT=cliente@contoso.example\n"));
    EXPECT_THAT(env, HasSubstr("VELARION_STATUS=5.1.10\n"));
    EXPECT_THAT(env, HasSubstr("VELARION_REASON=casella inesistente\n"));

    // A second pass says nothing more of the mail it left.
    const auto again = s.once();
    EXPECT_THAT(again.out, Not(HasSubstr("respinta"))) << again.out;
    const auto track = s.command({"--track", "AB.21"});
    EXPECT_THAT(track.out, HasSubstr("cliente@contoso.example  respinto 5.1.10")) << track.out;

    // Sent again to a corrected address: a new message that says which it replaces.
    const auto resend = s.command({"--resend", "AB.21", "--to", "amministrazione@contoso.example"});
    ASSERT_EQ(resend.status, 0) << resend.err;
    EXPECT_THAT(resend.out, HasSubstr("riscritto come AB.21R1"));
    const auto resent = s.once();
    EXPECT_THAT(resent.out, HasSubstr(" Messaggio AB.21R1 inviato in sostituzione di AB.21")) << resent.out;
    const auto received = smtp.messages(2);
    ASSERT_EQ(received.size(), 2u);
    // The server's folder lists its messages in no particular order.
    EXPECT_THAT(received[0] + received[1], HasSubstr("X-RcptTo: amministrazione@contoso.example"));
    const auto both = s.command({"--track"});
    EXPECT_THAT(both.out, HasSubstr("sostituisce: AB.21"));
    EXPECT_THAT(both.out, HasSubstr("cliente@contoso.example  respinto"));  // the first record stays
    // Bad arguments.
    EXPECT_EQ(s.command({"--track", "--since", "ieri"}).status, 2);
    EXPECT_EQ(s.command({"--resend", "AB.21"}).status, 2);
    EXPECT_EQ(s.command({"--resend", "AB.99", "--to", "a@b.it"}).status, 1);
}

}  // namespace
}  // namespace velarion
