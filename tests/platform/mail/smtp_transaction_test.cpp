// The mail layer's SMTP transaction against a real server offering
// PIPELINING: lines that begin with a dot (or are one) are dot-stuffed on
// the wire and arrive as written, in a small message and in one large
// enough to go to the socket from where it was generated, on a new
// connection and on a kept one (RSET first).
#include "platform/mail/smtp_transaction.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/mail/spooled_message.h"
#include "platform/mail/vmime_socket.h"
#include "platform/mail/vmime_support.h"
#include "support/mail_servers.h"

namespace velarion {
namespace {

namespace detail = mail::detail;
using ::testing::HasSubstr;
using testing::SmtpOptions;
using testing::SmtpServer;

std::string lf(std::string text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
    return out;
}

TEST(SmtpTransaction, LinesThatBeginWithADotArriveAsWritten) {
    SmtpServer server(SmtpOptions{.pipelining = true});
    if (!server.skip_reason().empty()) GTEST_SKIP() << server.skip_reason();
    detail::init_platform();
    auto session = vmime::net::session::create();
    auto transport = session->getTransport(vmime::utility::url(server.url()));
    transport->setSocketFactory(detail::socket_factory());
    transport->connect();
    auto* smtp = dynamic_cast<vmime::net::smtp::SMTPTransport*>(transport.get());
    ASSERT_NE(smtp, nullptr);
    const auto from = detail::parse_mailbox("ufficio@velarion.example");
    vmime::mailboxList to;
    to.appendMailbox(detail::parse_mailbox("mario.rossi@example.it"));

    const std::string head = "Subject: Prova\r\nFrom: ufficio@velarion.example\r\nTo: mario.rossi@example.it\r\n\r\n";
    const std::string dots = ".\r\nprima\r\n.\r\n.punto\r\n..due\r\nfine.\r\n";
    // Past the socket's 64 KiB, with dots at the start of its lines.
    std::string large;
    while (large.size() < 100000) large += ".riga di un testo lungo\r\n" + std::string(60, 'x') + "\r\n";
    const std::string texts[] = {head + dots + "ultima", head + large + dots};
    for (int i = 0; i < 2; ++i) {
        detail::SpooledMessage message(
            [&](vmime::utility::outputStream& os) { os.write(texts[i].data(), texts[i].size()); });
        detail::send_transaction(*smtp, i > 0, message, *from, to, nullptr);
    }
    transport->disconnect();

    const auto got = server.messages(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_THAT(lf(got[0]), HasSubstr(lf(dots + "ultima")));
    EXPECT_THAT(lf(got[1]), HasSubstr(lf(large + dots)));
    const std::string wire = server.received();
    EXPECT_THAT(wire, HasSubstr("\r\n\r\n..\r\nprima\r\n..\r\n..punto\r\n...due\r\nfine.\r\nultima\r\n.\r\n"));
    EXPECT_THAT(wire, HasSubstr("\r\nRSET\r\nMAIL FROM:<ufficio@velarion.example>"));
    EXPECT_EQ(server.connections(), 1);
}

}  // namespace
}  // namespace velarion
