// Delivery reports as the agent reads them: samples written after RFC 3464
// and the public descriptions of the reports Postfix, Exchange Online and
// Gmail send, and hostile ones (huge, nested without end, in a charset they
// do not declare, without their status part).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/mail/delivery_report.h"

namespace velarion {
namespace {

using ::testing::HasSubstr;
using mail::DeliveryReport;
using mail::ReportReading;

// A multipart/report with the given parts (each "Content-Type...\r\n\r\nbody").
std::string report(const std::vector<std::string>& parts, const std::string& extra_header = "") {
    std::string m = "From: MAILER-DAEMON@mx.example.test (Mail Delivery System)\r\n"
                    "To: ufficio@velarion.example\r\n"
                    "Subject: Undelivered Mail Returned to Sender\r\n"
                    "Date: Thu, 10 Dec 2026 02:40:11 +0100 (CET)\r\n"
                    "MIME-Version: 1.0\r\n" +
                    extra_header +
                    "Content-Type: multipart/report; report-type=delivery-status;\r\n"
                    "\tboundary=\"B0UND\"\r\n\r\nThis is a MIME-encapsulated message.\r\n\r\n";
    for (const auto& p : parts) m += "--B0UND\r\n" + p + "\r\n";
    return m + "--B0UND--\r\n";
}

const std::string kReturnedHeaders =
    "Content-Type: text/rfc822-headers\r\n\r\n"
    "From: ufficio@velarion.example\r\nTo: nessuno@example.test\r\nSubject: Fattura 12\r\n"
    "Message-ID: <AB.12.0a1b2c3d4e5f@agente>\r\n";

TEST(DeliveryReport, PostfixBounceForAnUnknownUser) {
    const std::string raw = report(
        {"Content-Description: Notification\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n"
         "This is the mail system at host mx.example.test.\r\n",
         "Content-Description: Delivery report\r\nContent-Type: message/delivery-status\r\n\r\n"
         "Reporting-MTA: dns; mx.example.test\r\nX-Postfix-Queue-ID: 4F1A2B3C\r\n"
         "X-Postfix-Sender: rfc822; ufficio@velarion.example\r\n"
         "Original-Envelope-Id: AB.12.0a1b2c3d4e5f\r\n"
         "Arrival-Date: Thu, 10 Dec 2026 02:40:10 +0100 (CET)\r\n\r\n"
         "Final-Recipient: rfc822; nessuno@example.test\r\nOriginal-Recipient: rfc822;nessuno@example.test\r\n"
         "Action: failed\r\nStatus: 5.1.1\r\n"
         "Diagnostic-Code: X-Postfix; unknown user: \"nessuno\"\r\n",
         kReturnedHeaders});
    DeliveryReport r;
    std::string problem;
    ASSERT_EQ(mail::read_delivery_report(raw, r, problem), ReportReading::report) << problem;
    EXPECT_EQ(r.envelope_id, "AB.12.0a1b2c3d4e5f");
    EXPECT_EQ(r.reporting_mta, "mx.example.test");
    EXPECT_EQ(r.message_id, "AB.12.0a1b2c3d4e5f@agente");
    EXPECT_EQ(r.arrival_date, "Thu, 10 Dec 2026 02:40:10 +0100 (CET)");
    ASSERT_EQ(r.recipients.size(), 1u);
    EXPECT_EQ(r.recipients[0].recipient, "nessuno@example.test");
    EXPECT_EQ(r.recipients[0].action, "failed");
    EXPECT_EQ(r.recipients[0].status, "5.1.1");
    EXPECT_EQ(r.recipients[0].diagnostic, "unknown user: \"nessuno\"");
}

// Exchange Online: the human part as multipart/alternative, a folded
// Diagnostic-Code with its own enhanced code, the whole message returned,
// no envelope id (its servers often drop it): the Message-ID matches.
TEST(DeliveryReport, ExchangeOnlineNonDeliveryReport) {
    const std::string raw = report(
        {"Content-Type: multipart/alternative; boundary=\"ALT\"\r\n\r\n"
         "--ALT\r\nContent-Type: text/plain; charset=\"us-ascii\"\r\n\r\nYour message to cliente@contoso.example "
         "couldn't be delivered.\r\n--ALT\r\nContent-Type: text/html; charset=\"us-ascii\"\r\n\r\n<html><body>"
         "</body></html>\r\n--ALT--\r\n",
         "Content-Type: message/delivery-status\r\n\r\n"
         "Reporting-MTA: dns;AM0PR01MB1234.eurprd01.prod.exchangelabs.com\r\n"
         "Received-From-MTA: dns;mail.velarion.example\r\n"
         "Arrival-Date: Thu, 10 Dec 2026 01:40:10 +0000\r\n\r\n"
         "Final-Recipient: rfc822;cliente@contoso.example\r\nAction: failed\r\nStatus: 5.1.10\r\n"
         "Diagnostic-Code: smtp;550 5.1.10 RESOLVER.ADR.RecipientNotFound; Recipient not found\r\n"
         " by SMTP address lookup\r\nX-Display-Name: Cliente\r\n",
         "Content-Type: message/rfc822\r\n\r\nFrom: ufficio@velarion.example\r\n"
         "Message-ID:\r\n <AB.31.00aa11bb22cc@agente>\r\nSubject: Fattura 31\r\n\r\nIn allegato.\r\n"},
        "Content-Language: en-US\r\nX-MS-Exchange-Message-Is-Ndr:\r\n");
    DeliveryReport r;
    std::string problem;
    ASSERT_EQ(mail::read_delivery_report(raw, r, problem), ReportReading::report) << problem;
    EXPECT_EQ(r.envelope_id, "");
    EXPECT_EQ(r.message_id, "AB.31.00aa11bb22cc@agente");
    EXPECT_EQ(r.reporting_mta, "AM0PR01MB1234.eurprd01.prod.exchangelabs.com");
    ASSERT_EQ(r.recipients.size(), 1u);
    EXPECT_EQ(r.recipients[0].status, "5.1.10");
    EXPECT_EQ(r.recipients[0].diagnostic,
              "550 5.1.10 RESOLVER.ADR.RecipientNotFound; Recipient not found by SMTP address lookup");
}

// Gmail: a delay notice and a failure in one report, the envelope id as
// xtext, Status with a comment, Remote-MTA named.
TEST(DeliveryReport, GmailDelayAndFailureForTwoRecipients) {
    const std::string raw = report(
        {"Content-Type: text/plain; charset=\"UTF-8\"\r\n\r\n** Address not found **\r\n",
         "Content-Type: message/delivery-status\r\n\r\n"
         "Reporting-MTA: dns; googlemail.com\r\nOriginal-Envelope-Id: AB.40+2B1.abcdef012345\r\n"
         "Arrival-Date: Thu, 10 Dec 2026 01:40:10 -0800 (PST)\r\n"
         "X-Original-Message-ID: <AB.40+1.abcdef012345@agente>\r\n\r\n"
         "Final-Recipient: rfc822; lento@example.test\r\nAction: delayed\r\nStatus: 4.4.1 (temporary failure)\r\n"
         "Remote-MTA: dns; mx.example.test. (192.0.2.1, the server for the domain example.test.)\r\n"
         "Diagnostic-Code: smtp; 421 4.4.1 Timeout\r\nLast-Attempt-Date: Thu, 10 Dec 2026 01:50:00 -0800 (PST)\r\n"
         "Will-Retry-Until: Fri, 11 Dec 2026 01:40:10 -0800 (PST)\r\n\r\n"
         "Final-Recipient: rfc822; inesistente@example.test\r\nAction: failed\r\nStatus: 5.1.1\r\n"
         "Diagnostic-Code: smtp; 550-5.1.1 The email account that you tried to reach does not exist.\r\n",
         "Content-Type: message/rfc822\r\n\r\nMessage-ID: <AB.40+1.abcdef012345@agente>\r\nSubject: x\r\n\r\n."});
    DeliveryReport r;
    std::string problem;
    ASSERT_EQ(mail::read_delivery_report(raw, r, problem), ReportReading::report) << problem;
    EXPECT_EQ(r.envelope_id, "AB.40+1.abcdef012345");
    ASSERT_EQ(r.recipients.size(), 2u);
    EXPECT_EQ(r.recipients[0].action, "delayed");
    EXPECT_EQ(r.recipients[0].status, "4.4.1");
    EXPECT_EQ(r.recipients[1].recipient, "inesistente@example.test");
    EXPECT_EQ(r.recipients[1].status, "5.1.1");
}

TEST(DeliveryReport, OtherMailIsNotAReport) {
    DeliveryReport r;
    std::string problem;
    EXPECT_EQ(mail::read_delivery_report("From: a@b\r\nSubject: Re: Fattura 12\r\n\r\nGrazie\r\n", r, problem),
              ReportReading::not_report);
    // A read receipt is a report of another type.
    EXPECT_EQ(mail::read_delivery_report(
                  "Content-Type: multipart/report; report-type=disposition-notification; boundary=x\r\n\r\n--x--\r\n",
                  r, problem),
              ReportReading::not_report);
}

TEST(DeliveryReport, HostileReportsAreRefusedWithTheReason) {
    DeliveryReport r;
    std::string problem;
    // Huge: not parsed at all.
    mail::ReportLimits small;
    small.max_bytes = 64 * 1024;
    const std::string huge = report({"Content-Type: text/plain\r\n\r\n" + std::string(100 * 1024, 'x')});
    EXPECT_EQ(mail::read_delivery_report(huge, r, problem, small), ReportReading::refused);
    EXPECT_THAT(problem, HasSubstr("troppo grande"));

    // Nested without end: refused before the parser follows it.
    std::string nested = "Content-Type: multipart/report; report-type=delivery-status; boundary=\"b0\"\r\n\r\n";
    for (int i = 1; i < 5000; ++i)
        nested += "--b" + std::to_string(i - 1) + "\r\nContent-Type: multipart/mixed; boundary=\"b" +
                  std::to_string(i) + "\"\r\n\r\n";
    EXPECT_EQ(mail::read_delivery_report(nested, r, problem), ReportReading::refused);
    EXPECT_THAT(problem, HasSubstr("parti MIME"));
    // Nested within the count of parts but deeper than allowed.
    std::string deep = "Content-Type: multipart/report; report-type=delivery-status; boundary=\"b0\"\r\n\r\n";
    for (int i = 1; i < 20; ++i)
        deep += "--b" + std::to_string(i - 1) + "\r\nContent-Type: multipart/mixed; boundary=\"b" +
                std::to_string(i) + "\"\r\n\r\n";
    EXPECT_EQ(mail::read_delivery_report(deep, r, problem), ReportReading::refused);
    EXPECT_THAT(problem, HasSubstr("annidate"));

    // No status part; a status part without any recipient.
    EXPECT_EQ(mail::read_delivery_report(report({"Content-Type: text/plain\r\n\r\nciao\r\n"}), r, problem),
              ReportReading::refused);
    EXPECT_EQ(mail::read_delivery_report(
                  report({"Content-Type: message/delivery-status\r\n\r\nReporting-MTA: dns; x\r\n"}), r, problem),
              ReportReading::refused);
    // A field longer than any real one.
    EXPECT_EQ(mail::read_delivery_report(
                  report({"Content-Type: message/delivery-status\r\n\r\nReporting-MTA: dns; x\r\n\r\n"
                          "Final-Recipient: rfc822; a@b\r\nAction: failed\r\nDiagnostic-Code: smtp; " +
                          std::string(10000, 'z') + "\r\n"}),
                  r, problem),
              ReportReading::refused);
    EXPECT_THAT(problem, HasSubstr("troppo lungo"));
}

TEST(DeliveryReport, AWrongCharsetIsReadAsWindows1252AndControlsAreBlanks) {
    const std::string raw = report(
        {"Content-Type: message/delivery-status; charset=utf-8\r\n\r\nReporting-MTA: dns; mx.example.test\r\n\r\n"
         "Final-Recipient: rfc822; cliente@example.test\r\nAction: failed\r\nStatus: 5.2.2\r\n"
         "Diagnostic-Code: smtp; 552 casella piena \xe0 \x01\x1b[31m\r\n"});
    DeliveryReport r;
    std::string problem;
    ASSERT_EQ(mail::read_delivery_report(raw, r, problem), ReportReading::report) << problem;
    ASSERT_EQ(r.recipients.size(), 1u);
    EXPECT_EQ(r.recipients[0].diagnostic, "552 casella piena \xc3\xa0   [31m");
}

}  // namespace
}  // namespace velarion
