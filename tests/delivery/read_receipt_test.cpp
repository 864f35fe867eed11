// "NOLETT" in "ParGenerali": no read receipt is asked, checked on the
// message a real SMTP server received and on the draft stored in a maildir;
// without it the receipt goes to the operator's address.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "mail_test_support.h"
#include "support/mail_servers.h"

namespace velarion {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using testing::MailContext;
using testing::SmtpServer;

// The header block of a raw message.
std::string headers_of(const std::string& raw) {
    const auto crlf = raw.find("\r\n\r\n");
    return raw.substr(0, crlf != std::string::npos ? crlf : raw.find("\n\n"));
}

void expect_receipt(const std::string& raw, bool asked) {
    const std::string headers = headers_of(raw);
    const std::string d = testing::describe_mime(raw);
    if (asked) {
        EXPECT_THAT(headers, HasSubstr("Disposition-Notification-To: ufficio@velarion.example"));
        EXPECT_THAT(d, HasSubstr("dnt: ufficio@velarion.example\n"));
    } else {
        EXPECT_THAT(headers, Not(HasSubstr("Disposition-Notification-To")));
        EXPECT_THAT(headers, Not(HasSubstr("Return-Receipt-To")));
        EXPECT_THAT(d, HasSubstr("dnt: None\n"));
    }
}

TEST(ReadReceipt, NolettSendsWithoutOne) {
    SmtpServer smtp;
    if (!smtp.skip_reason().empty()) GTEST_SKIP() << smtp.skip_reason();
    MailContext m;
    m.write_mapi("client=Thunderbird\ntransport=" + smtp.url() + "\n");
    DeliveryRequest r = testing::sample_request();
    r.lsObj = "Con ricevuta";
    ASSERT_TRUE(m.dispatcher.sendmail(r)) << ::testing::PrintToString(m.view.boxes);

    m.cfg.op.ParGenerali = "NORIF NOLETT";
    m.cfg.derive();
    r.lsObj = "Senza ricevuta";
    ASSERT_TRUE(m.dispatcher.sendmail(r)) << ::testing::PrintToString(m.view.boxes);

    // The server's folder gives no order of arrival: each message by its subject.
    const auto received = smtp.messages(2);
    ASSERT_EQ(received.size(), 2u);
    int with_receipt = 0;
    for (const auto& raw : received) {
        const bool with = headers_of(raw).find("Subject: Con ricevuta") != std::string::npos;
        const bool without = headers_of(raw).find("Subject: Senza ricevuta") != std::string::npos;
        ASSERT_TRUE(with != without) << headers_of(raw);
        expect_receipt(raw, with);
        with_receipt += with ? 1 : 0;
    }
    EXPECT_EQ(with_receipt, 1);
}

TEST(ReadReceipt, NolettStoresTheDraftWithoutOne) {
    MailContext m;
    m.write_mapi("client=Microsoft Outlook\n");
    DeliveryRequest r = testing::sample_request();
    r.lsSend = "SAVE";
    m.cfg.op.ParGenerali = "NOLETT";
    m.cfg.derive();
    ASSERT_TRUE(m.dispatcher.sendmail(r)) << ::testing::PrintToString(m.view.boxes);
    const auto drafts = testing::maildir_drafts(testing::store_root(m));
    ASSERT_EQ(drafts.size(), 1u);
    expect_receipt(drafts[0].raw, false);
}

}  // namespace
}  // namespace velarion
