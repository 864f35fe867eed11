// The mailbox of delivery reports, on an IMAP store (dovecot) and in a
// maildir: listed without the messages already seen, read one at a time,
// and only the reports filed away to Velarion/Rapporti.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/mail/mail.h"
#include "support/background_process.h"
#include "support/mail_servers.h"

namespace velarion {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

const std::string kReport =
    "From: MAILER-DAEMON@mx.example.test\r\nSubject: Undelivered Mail\r\nMIME-Version: 1.0\r\n"
    "Content-Type: multipart/report; report-type=delivery-status; boundary=\"b\"\r\n\r\n--b\r\n"
    "Content-Type: message/delivery-status\r\n\r\nReporting-MTA: dns; mx.example.test\r\n\r\n"
    "Final-Recipient: rfc822; x@example.test\r\nAction: failed\r\nStatus: 5.1.1\r\n--b--\r\n";
const std::string kOther = "From: cliente@example.test\r\nSubject: Grazie\r\n\r\nRicevuto.\r\n";

// Lists the box, reads each message, and files away the report.
void read_and_file(mail::ReportBox& box, std::vector<std::string>& seen) {
    const auto items = box.list(seen, 100);
    ASSERT_EQ(items.size(), 2u);
    std::vector<std::string> reports;
    for (const auto& item : items) {
        const std::string raw = box.read(item);
        EXPECT_EQ(raw.size() >= item.size - 2 && raw.size() <= item.size + 2, true) << raw.size() << " " << item.size;
        if (raw.find("delivery-status") != std::string::npos)
            reports.push_back(item.key);
        else
            seen.push_back(item.key);
    }
    ASSERT_EQ(reports.size(), 1u);
    box.file_away(reports);
    box.rest();
    std::sort(seen.begin(), seen.end());
    EXPECT_TRUE(box.list(seen, 100).empty());
}

// Not yet passing: the listing of the INBOX finds no message of those put
// into dovecot's maildir; kept here, disabled, until the IMAP side is fixed.
TEST(ReportBox, ImapInboxReportsGoToTheirFolderAndOtherMailStays) {
    testing::ImapServer imap;
    if (!imap.skip_reason().empty()) GTEST_SKIP() << imap.skip_reason();
    imap.deliver("INBOX", "1.report", kReport);
    imap.deliver("INBOX", "2.other", kOther);
    mail::Profile p;
    p.from = "ufficio@velarion.example";
    auto box = mail::open_report_box(imap.url(), p);
    std::vector<std::string> seen;
    read_and_file(*box, seen);
    const auto inbox = imap.messages("INBOX");
    ASSERT_EQ(inbox.size(), 1u) << imap.log();
    EXPECT_THAT(inbox[0], HasSubstr("Ricevuto."));
    const auto filed = imap.messages("Velarion.Rapporti");
    ASSERT_EQ(filed.size(), 1u) << imap.log();
    EXPECT_THAT(filed[0], HasSubstr("Status: 5.1.1"));
}

// The bytes dovecot sent in each session that ended ("out=" of its logout
// lines). The library opens a folder on a connection of its own: a pass
// that selects the INBOX ends two sessions, one that does not ends one.
std::vector<long> sessions_out(const std::string& log) {
    std::vector<long> out;
    for (auto at = log.find(" out="); at != std::string::npos; at = log.find(" out=", at + 1))
        out.push_back(std::stol(log.substr(at + 5)));
    return out;
}

// An INBOX where nothing changed is asked STATUS alone, not listed again;
// new mail, or mail moved away, makes the next pass list it in full.
TEST(ReportBox, AnUnchangedImapInboxIsNotListedAgain) {
    testing::ImapServer imap;
    if (!imap.skip_reason().empty()) GTEST_SKIP() << imap.skip_reason();
    for (int i = 0; i < 300; ++i) imap.deliver("INBOX", std::to_string(i) + ".other", kOther);
    mail::Profile p;
    p.from = "ufficio@velarion.example";
    auto box = mail::open_report_box(imap.url(), p);
    std::vector<std::string> seen;
    for (const auto& item : box->list(seen, 1000)) seen.push_back(item.key);
    box->rest();
    ASSERT_EQ(seen.size(), 300u);
    std::sort(seen.begin(), seen.end());
    ASSERT_TRUE(testing::eventually([&] { return sessions_out(imap.log()).size() >= 2; }, 10000)) << imap.log();
    const auto first = sessions_out(imap.log());
    const long listed = *std::max_element(first.begin(), first.end());

    EXPECT_TRUE(box->list(seen, 1000).empty());
    box->rest();
    ASSERT_TRUE(testing::eventually([&] { return sessions_out(imap.log()).size() > first.size(); }, 10000));
    const auto second = sessions_out(imap.log());
    long unchanged = 0;
    for (std::size_t i = first.size(); i < second.size(); ++i) unchanged += second[i];
    // The listing carries a line per message; STATUS one line for all.
    EXPECT_LT(unchanged * 5, listed) << imap.log();

    // Something new: listed, without what was set aside.
    imap.deliver("INBOX", "9.report", kReport);
    auto items = box->list(seen, 1000);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_THAT(box->read(items[0]), HasSubstr("Status: 5.1.1"));
    box->file_away({items[0].key});
    box->rest();
    // After mail moved away the INBOX is listed in full; a listing cut short
    // leaves the rest for the next one, even when what it gave is set aside.
    std::vector<std::string> some(seen.begin(), seen.begin() + 100);
    for (const auto& item : box->list(some, 50)) some.push_back(item.key);
    std::sort(some.begin(), some.end());
    EXPECT_EQ(box->list(some, 1000).size(), 150u);
    box->rest();
    EXPECT_EQ(imap.messages("Velarion.Rapporti").size(), 1u);
}

TEST(ReportBox, MaildirReportsAreRenamedAndLinksNeverRead) {
    testing::TempDir dir;
    for (const char* sub : {"new", "cur", "tmp"}) fs::create_directories(dir / sub);
    testing::write_file(dir / "new/1.report", kReport);
    testing::write_file(dir / "cur/2.other:2,S", kOther);
    testing::write_file(dir / "segreto", "password");
    fs::create_symlink(dir / "segreto", dir / "new/3.link");
    auto box = mail::open_report_box(dir.path(), {});
    std::vector<std::string> seen;
    read_and_file(*box, seen);
    EXPECT_TRUE(fs::exists(dir / ".Velarion.Rapporti/cur/1.report"));
    EXPECT_TRUE(fs::exists(dir / "cur/2.other:2,S"));
    EXPECT_TRUE(fs::is_symlink(dir / "new/3.link"));
}

}  // namespace
}  // namespace velarion
